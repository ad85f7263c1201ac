#include "cli/CliArgs.h"

#include <cstdarg>
#include <cstring>
#include <utility>

CliArgs::CliArgs(std::string name, Usage usage, int argc, char** argv) :
    m_name(std::move(name)), m_usage(std::move(usage)), m_argc(argc), m_argv(argv)
{}

bool CliArgs::Next()
{
    if (m_status != kRun || ++m_at >= m_argc) return false;
    if (_is("--help", "-h")) {
        m_usage(stdout);
        m_status = kDone;
        return false;
    }
    return true;
}

bool CliArgs::_is(const char* option, const char* alias) const
{
    if (m_status != kRun || m_at <= 0 || m_at >= m_argc) return false;
    const char* a = m_argv[m_at];
    return std::strcmp(a, option) == 0 || (alias != nullptr && std::strcmp(a, alias) == 0);
}

bool CliArgs::_atOption() const
{
    const char* a = m_argv[m_at];
    return a[0] == '-' && a[1] != '\0';
}

bool CliArgs::Flag(const char* option, const char* alias) { return _is(option, alias); }

bool CliArgs::Value(const char* option, const char* alias, const char*& value)
{
    if (!_is(option, alias)) return false;
    if (m_at + 1 >= m_argc) {
        Refuse("%s needs a value", m_argv[m_at]);
        RefuseUsage();
        return false;
    }
    value = m_argv[++m_at];
    return true;
}

bool CliArgs::Value(const char* option, const char*& value) { return Value(option, nullptr, value); }

bool CliArgs::Value(const char* option, std::string& value)
{
    const char* text = nullptr;
    if (!Value(option, nullptr, text)) return false;
    value = text;
    return true;
}

bool CliArgs::Positional(const char*& value)
{
    if (m_status != kRun || m_at >= m_argc || _atOption()) return false;
    value = m_argv[m_at];
    return true;
}

void CliArgs::Unknown()
{
    if (m_status != kRun || m_at >= m_argc) return;
    if (_atOption()) Refuse("unknown option '%s'", m_argv[m_at]);
    RefuseUsage();
}

int CliArgs::Refuse(const char* format, ...)
{
    std::fprintf(stderr, "%s: ", m_name.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    m_status = kBadArguments;
    return m_status;
}

int CliArgs::RefuseUsage()
{
    m_usage(stderr);
    m_status = kBadArguments;
    return m_status;
}
