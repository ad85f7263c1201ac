#pragma once
// The arguments of one lumivor subcommand, read the same way by every one.
//
// A subcommand walks its arguments with Next() and asks, for the argument at
// hand, whether it is one of its options (Flag, Value) or a positional one;
// whatever it does not claim it hands to Unknown(). The refusals every
// subcommand shares therefore read alike everywhere:
//   --help or -h       the usage on standard output; exit status 0
//   an unknown option  "NAME: unknown option 'ARG'", then the usage on
//                      standard error; exit status 2
//   a missing value    "NAME: OPTION needs a value", then the usage on
//                      standard error; exit status 2
//   a surplus or missing positional argument: the usage on standard error;
//                      exit status 2
// A subcommand's own complaints (a value out of range, options that exclude
// each other) go through Refuse: "NAME: text" on standard error, exit 2.
// The first refusal ends the walk: Next() and every question answer false
// from then on, and Status() gives the exit status.
#include <cstdio>
#include <functional>
#include <string>

class CliArgs {
public:
    using Usage = std::function<void(FILE* out)>;

    // Status() while the command may run; any other value ends it.
    static constexpr int kRun = -1;
    static constexpr int kDone = 0; // after --help
    static constexpr int kBadArguments = 2;

    // `name` prefixes every message ("lumivor qr"); argv[0] is the
    // subcommand's own name and is skipped.
    CliArgs(std::string name, Usage usage, int argc, char** argv);

    // Moves to the next argument; false at the end, after --help and after
    // a refusal.
    bool Next();

    // The argument at hand is the flag `option` (or its `alias`).
    bool Flag(const char* option, const char* alias = nullptr);
    // The argument at hand is `option` (or its `alias`) and `value` receives
    // the argument after it; false, with the walk refused, when none follows.
    bool Value(const char* option, const char*& value);
    bool Value(const char* option, const char* alias, const char*& value);
    bool Value(const char* option, std::string& value);
    // The argument at hand is no option ("-" alone counts as positional).
    bool Positional(const char*& value);
    // The argument at hand was claimed by nothing: an unknown option, or a
    // positional argument too many.
    void Unknown();

    // Refuses the arguments with the subcommand's own words ("NAME: " and a
    // line are added); returns kBadArguments.
    int Refuse(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Refuses with the usage on standard error; returns kBadArguments.
    int RefuseUsage();

    // kRun while the command may run, else its exit status.
    int Status() const { return m_status; }
    const std::string& Name() const { return m_name; }

private:
    bool _atOption() const;
    bool _is(const char* option, const char* alias) const;

    std::string m_name;
    Usage m_usage;
    int m_argc;
    char** m_argv;
    int m_at = 0;
    int m_status = kRun;
};
