// Planning the edges of a project and writing them as Ninja text.
#include "cli/ProjectNinja.h"

#include <glob.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

namespace {

struct Edge {
    const char* rule;
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
    std::vector<std::string> arguments;   // the command line, unquoted
    bool depfile = false;                 // the command writes <first output>.d
    std::string directory;                // where the command runs; empty: the build folder
};

// One quoted word of a POSIX shell command.
std::string ShellQuote(const std::string& word)
{
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A path in a build line: '$', ' ' and ':' are escaped with '$'.
std::string NinjaPath(const std::string& path)
{
    std::string e;
    for (char c : path) {
        if (c == '$' || c == ' ' || c == ':') e += '$';
        e += c;
    }
    return e;
}

// A variable's value: only '$' is special.
std::string NinjaValue(const std::string& text)
{
    std::string e;
    for (char c : text) e += c == '$' ? std::string("$$") : std::string(1, c);
    return e;
}

std::string Stem(const std::string& path) { return std::filesystem::path(path).stem().string(); }

class Planner {
public:
    Planner(const ProjectPaths& paths, const ProjectTools& tools, const std::string& manifestName)
        : m_paths(paths), m_tools(tools), m_name(manifestName)
    {
    }

    bool Job(const ProjectJob& job)
    {
        m_job = &job;
        switch (job.kind) {
        case ProjectJobKind::Bundle: return Bundle(job);
        case ProjectJobKind::Script: return Script(job);
        case ProjectJobKind::Sound: return Sound(job);
        case ProjectJobKind::Image: return Image(job);
        case ProjectJobKind::Qr: return Qr(job);
        }
        return false;
    }

    const std::vector<Edge>& Edges() const { return m_edges; }
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const std::string& message)
    {
        m_error = m_name + ":" + std::to_string(m_job->line) + ": " + message;
        return false;
    }

    std::string Input(const std::string& path) const
    {
        return std::filesystem::path(path).is_absolute() ? path : m_paths.project + "/" + path;
    }
    std::string Output(const std::string& path) const { return m_paths.build + "/out/" + path; }

    // The files of every `input` value: glob patterns expanded (sorted), plain
    // names kept as they are (Ninja reports a missing one).
    bool Inputs(std::vector<std::string>* files)
    {
        for (const std::string& value : m_job->GetAll("input")) {
            const std::string pattern = Input(value);
            if (pattern.find_first_of("*?[") == std::string::npos) {
                files->push_back(pattern);
                continue;
            }
            glob_t g = {};
            const int found = glob(pattern.c_str(), 0, nullptr, &g);
            for (size_t i = 0; found == 0 && i < g.gl_pathc; ++i) files->push_back(g.gl_pathv[i]);
            globfree(&g);
            if (found != 0) return Fail("'" + value + "' matches no file");
        }
        return true;
    }

    bool Add(Edge edge)
    {
        for (const std::string& out : edge.outputs)
            if (!m_outputs.insert(out).second) return Fail("another job already writes " + out);
        m_edges.push_back(std::move(edge));
        return true;
    }

    bool Bundle(const ProjectJob& job)
    {
        Edge e{"bundle", {Output(job.Get("output"))}, {Input(job.Get("instance")), Input(job.Get("template"))}, {}, true, {}};
        e.arguments = {m_tools.lumivor, "bundle", e.inputs[0], e.inputs[1], "-o", e.outputs[0]};
        // Embedded files are named relative to the folder the texts are in.
        e.directory = std::filesystem::path(e.inputs[0]).parent_path().string();
        if (!job.Get("code").empty()) e.arguments.insert(e.arguments.end(), {"--code", job.Get("code")});
        for (const std::string& h : job.GetAll("defs")) e.arguments.insert(e.arguments.end(), {"--defs", Input(h)});
        return Add(std::move(e));
    }

    bool Script(const ProjectJob& job)
    {
        Edge e{"script", {Output(job.Get("output"))}, {Input(job.Get("source"))}, {}, true, {}};
        e.arguments = {m_tools.lumivor, "script", e.inputs[0], "-o", e.outputs[0]};
        // An include is looked for first as named, from the script's folder.
        e.directory = std::filesystem::path(e.inputs[0]).parent_path().string();
        for (const std::string& dir : job.GetAll("include")) e.arguments.insert(e.arguments.end(), {"-I", Input(dir)});
        if (!job.Get("defs").empty()) e.arguments.insert(e.arguments.end(), {"--defs", Input(job.Get("defs"))});
        if (!job.Get("fixed").empty()) e.arguments.insert(e.arguments.end(), {"--fixed", job.Get("fixed")});
        if (job.Get("debug", "0") != "0") e.arguments.push_back("--debug");
        if (job.Get("big_endian", "0") != "0") e.arguments.push_back("--big-endian");
        return Add(std::move(e));
    }

    bool Sound(const ProjectJob& job)
    {
        std::vector<std::string> files;
        if (!Inputs(&files)) return false;
        for (const std::string& wav : files) {
            Edge e{"sound", {Output(job.Get("output") + "/" + Stem(wav) + ".zaf")}, {wav}, {}, false, {}};
            e.arguments = m_tools.zafencoder.empty() ? std::vector<std::string>{m_tools.lumivor, "audio"}
                                                     : std::vector<std::string>{m_tools.zafencoder};
            for (const char* option : {"quality", "bitrate", "cutoff"})
                if (!job.Get(option).empty())
                    e.arguments.insert(e.arguments.end(), {std::string("--") + option, job.Get(option)});
            e.arguments.insert(e.arguments.end(), {wav, e.outputs[0]});
            if (!Add(std::move(e))) return false;
        }
        return true;
    }

    bool Image(const ProjectJob& job)
    {
        static const char* const kFormats[] = {"palette", "palette565", "rgb565", "rgba4444", "rgba5551"};
        const std::string format = job.Get("format", "palette");
        if (std::find(std::begin(kFormats), std::end(kFormats), format) == std::end(kFormats))
            return Fail("unknown image format '" + format + "' (palette, palette565, rgb565, rgba4444, rgba5551)");
        const bool palettised = format.starts_with("palette");
        std::vector<std::string> files;
        if (!Inputs(&files)) return false;
        const std::string dir = Output(job.Get("output"));
        std::vector<std::string> options = {"--format", format};
        for (const char* option : {"colors", "quality", "reserve", "level"})
            if (!job.Get(option).empty()) options.insert(options.end(), {std::string("--") + option, job.Get(option)});
        if (!job.Get("alpha_level").empty()) options.insert(options.end(), {"--alpha-level", job.Get("alpha_level")});
        if (job.Get("transparent", "0") != "0") options.push_back("--transparent");
        if (job.Get("dither", "1") == "0") options.push_back("--no-dither");
        // One shared palette means one edge for all the images; otherwise one each.
        const bool shared = job.Get("shared", "0") != "0";
        for (size_t first = 0; first < files.size(); first += shared ? files.size() : 1) {
            const size_t count = shared ? files.size() : 1;
            Edge e{"image", {}, {files.begin() + long(first), files.begin() + long(first + count)}, {}, false, {}};
            for (const std::string& png : e.inputs) {
                const std::string stem = dir + "/" + Stem(png);
                if (palettised) e.outputs.insert(e.outputs.end(), {stem + ".idx", stem + ".pal"});
                else e.outputs.push_back(stem + "." + format + ".raw");
                e.outputs.push_back(stem + "." + format + ".png");
            }
            e.arguments = {m_tools.lumivor, "reduce"};
            e.arguments.insert(e.arguments.end(), e.inputs.begin(), e.inputs.end());
            e.arguments.insert(e.arguments.end(), {"-o", dir});
            e.arguments.insert(e.arguments.end(), options.begin(), options.end());
            if (!Add(std::move(e))) return false;
        }
        return true;
    }

    bool Qr(const ProjectJob& job)
    {
        const std::string bmp = Output(job.Get("output"));
        Edge e{"qr", {bmp}, {}, {m_tools.lumivor, "qr", job.Get("text"), "-o", bmp}, false, {}};
        if (!job.Get("version").empty()) e.arguments.insert(e.arguments.end(), {"--version", job.Get("version")});
        if (job.Get("png", "0") != "0") {
            const size_t dot = bmp.rfind('.');
            const bool hasDot = dot != std::string::npos && dot > bmp.rfind('/');
            e.outputs.push_back((hasDot ? bmp.substr(0, dot) : bmp) + ".png");
            e.arguments.push_back("--png");
        }
        return Add(std::move(e));
    }

    const ProjectPaths& m_paths;
    const ProjectTools& m_tools;
    const std::string& m_name;
    const ProjectJob* m_job = nullptr;
    std::vector<Edge> m_edges;
    std::set<std::string> m_outputs;
    std::string m_error;
};

const char kRules[] =
    "# Written by lumivor build from the project manifest; rewritten on every run.\n"
    "ninja_required_version = 1.5\n\n"
    "rule bundle\n  command = $cmd\n  description = bundle $out\n  depfile = $out.d\n  deps = gcc\n\n"
    "rule script\n  command = $cmd\n  description = script $out\n  depfile = $out.d\n  deps = gcc\n\n"
    "rule sound\n  command = $cmd\n  description = sound $out\n\n"
    "rule image\n  command = $cmd\n  description = image $out\n\n"
    "rule qr\n  command = $cmd\n  description = qr $out\n\n";

std::string EdgeText(const Edge& e)
{
    std::string text = "build";
    for (const std::string& out : e.outputs) text += " " + NinjaPath(out);
    text += std::string(": ") + e.rule;
    for (const std::string& in : e.inputs) text += " " + NinjaPath(in);
    std::string command = e.directory.empty() ? "" : "cd " + ShellQuote(e.directory) + " &&";
    for (const std::string& a : e.arguments) command += (command.empty() ? "" : " ") + ShellQuote(a);
    if (e.depfile) command += " --depfile " + ShellQuote(e.outputs[0] + ".d");
    // The tools report what they wrote on standard output; Ninja's progress
    // line says as much, so only their errors are shown.
    text += "\n  cmd = " + NinjaValue(command) + " > /dev/null\n";
    return text;
}

} // namespace

bool ProjectNinjaWrite(const ProjectManifest& manifest, const ProjectPaths& paths, const ProjectTools& tools,
                       const std::string& manifestName, std::string* text, std::string* error)
{
    Planner planner(paths, tools, manifestName);
    for (const ProjectJob& job : manifest.jobs) {
        if (!planner.Job(job)) {
            *error = planner.Error();
            return false;
        }
    }
    *text = kRules;
    for (const Edge& e : planner.Edges()) text->append(EdgeText(e));
    return true;
}
