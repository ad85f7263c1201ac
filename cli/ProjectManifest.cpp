// Reading the project manifest: the attribute reader builds the tree, then
// each element is checked against the table of job kinds below. The tree
// does not record lines, so a small scan of the text finds the line of each
// start tag (in document order, the order the tree keeps) for the messages.
#include "cli/ProjectManifest.h"

#include "attribute/AtrAttribute.h"
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "platform/PlatformCodePage.h"

#include <cstdio>
#include <cstring>

namespace {

enum Flag : unsigned { kRequired = 1, kRepeatable = 2, kNumber = 4 };

struct AttributeRule {
    const char* name;
    unsigned flags;
};

struct ElementRule {
    ProjectJobKind kind;
    const char* element;
    std::vector<AttributeRule> attributes;
};

const std::vector<ElementRule>& Rules()
{
    static const std::vector<ElementRule> rules = {
        {ProjectJobKind::Bundle, "Bundle",
         {{"instance", kRequired}, {"template", kRequired}, {"output", kRequired}, {"code", 0},
          {"defs", kRepeatable}}},
        {ProjectJobKind::Script, "Script",
         {{"source", kRequired}, {"output", kRequired}, {"include", kRepeatable}, {"defs", 0},
          {"fixed", kNumber}, {"debug", kNumber}, {"big_endian", kNumber}}},
        {ProjectJobKind::Sound, "Sound",
         {{"input", kRequired | kRepeatable}, {"output", kRequired}, {"quality", kNumber}, {"bitrate", kNumber},
          {"cutoff", kNumber}}},
        {ProjectJobKind::Image, "Image",
         {{"input", kRequired | kRepeatable}, {"output", kRequired}, {"format", 0}, {"colors", kNumber},
          {"quality", 0}, {"transparent", kNumber}, {"dither", kNumber}, {"level", kNumber},
          {"alpha_level", kNumber}, {"reserve", kNumber}, {"shared", kNumber}}},
        {ProjectJobKind::Qr, "Qr", {{"text", kRequired}, {"output", kRequired}, {"version", kNumber}, {"png", kNumber}}},
    };
    return rules;
}

// The line of every start tag of the text, in document order.
std::vector<int> StartTagLines(const char* p)
{
    std::vector<int> lines;
    int line = 1;
    while (*p != '\0') {
        const char c = *p;
        if (c == '\n') {
            ++line;
            ++p;
        } else if (c == '"') {
            for (++p; *p != '\0' && *p != '"'; ++p)
                if (*p == '\n') ++line;
            if (*p == '"') ++p;
        } else if (c == '\'' || (c == '/' && p[1] == '/')) {
            while (*p != '\0' && *p != '\n') ++p;
        } else if (c == '/' && p[1] == '*') {
            for (p += 2; *p != '\0' && !(*p == '*' && p[1] == '/'); ++p)
                if (*p == '\n') ++line;
            if (*p != '\0') p += 2;
        } else {
            if (c == '<' && p[1] != '/' && p[1] != '!' && p[1] != '?') lines.push_back(line);
            ++p;
        }
    }
    return lines;
}

std::string ValueText(const AtrAttribute& a, bool* number)
{
    char digits[32];
    *number = true;
    switch (a.GetType()) {
    case CVK_VARIANT_TYPE_SINT:
        std::snprintf(digits, sizeof digits, "%d", a.GetS32());
        return digits;
    case CVK_VARIANT_TYPE_UINT:
        std::snprintf(digits, sizeof digits, "%u", a.GetU32());
        return digits;
    default:
        *number = false;
        return a.GetString() != nullptr ? PlatformCp932ToUtf8(a.GetString()) : "";
    }
}

class Reader {
public:
    Reader(const char* text, const std::string& name) : m_lines(StartTagLines(text)), m_name(name) {}

    // Checks one job element; false after recording the error.
    bool Job(const AtrNode& node, int index, ProjectManifest* manifest)
    {
        const std::string element = node.GetElement().GetBuffer() != nullptr ? node.GetElement().GetBuffer() : "";
        const ElementRule* rule = nullptr;
        for (const ElementRule& r : Rules())
            if (element == r.element) rule = &r;
        if (rule == nullptr) return Fail(index, "unknown element <" + element + "> (Bundle, Script, Sound, Image or Qr)");
        ProjectJob job{rule->kind, Line(index), {}};
        for (const AtrAttribute* a = node.GetAttribute(0); a != nullptr; a = a->GetNext()) {
            const std::string name = a->GetName().GetBuffer() != nullptr ? a->GetName().GetBuffer() : "";
            const AttributeRule* attr = nullptr;
            for (const AttributeRule& r : rule->attributes)
                if (name == r.name) attr = &r;
            if (attr == nullptr) return Fail(index, "unknown attribute '" + name + "' of <" + element + ">");
            bool number = false;
            const std::string text = ValueText(*a, &number);
            if ((attr->flags & kNumber) != 0 && !number)
                return Fail(index, "'" + name + "' of <" + element + "> wants a number");
            if ((attr->flags & kRepeatable) == 0 && !job.GetAll(attr->name).empty())
                return Fail(index, "'" + name + "' of <" + element + "> is given twice");
            if (!number && text.empty()) return Fail(index, "'" + name + "' of <" + element + "> is empty");
            job.values.push_back({name, text});
        }
        for (const AttributeRule& r : rule->attributes)
            if ((r.flags & kRequired) != 0 && job.GetAll(r.name).empty())
                return Fail(index, "<" + element + "> needs '" + r.name + "'");
        manifest->jobs.push_back(std::move(job));
        return true;
    }

    bool Fail(int index, const std::string& message)
    {
        m_error = m_name + ":" + std::to_string(Line(index)) + ": " + message;
        return false;
    }

    int Line(int index) const { return index >= 0 && size_t(index) < m_lines.size() ? m_lines[size_t(index)] : 0; }
    const std::string& Error() const { return m_error; }

private:
    std::vector<int> m_lines;
    std::string m_name;
    std::string m_error;
};

// The number of nodes of a subtree, so that the next sibling's start tag is found.
int CountNodes(const AtrNode& node)
{
    int n = 1;
    for (const AtrNode* c = node.GetChild(0); c != nullptr; c = c->GetNext()) n += CountNodes(*c);
    return n;
}

bool ReadJobs(Reader& reader, const AtrNode* first, int index, ProjectManifest* manifest)
{
    for (const AtrNode* n = first; n != nullptr; n = n->GetNext()) {
        if (!reader.Job(*n, index, manifest)) return false;
        if (n->GetChild(0) != nullptr) return reader.Fail(index + 1, "a job element holds no elements");
        index += CountNodes(*n);
    }
    return true;
}

bool ReadProject(Reader& reader, const AtrNode& root, ProjectManifest* manifest)
{
    for (const AtrAttribute* a = root.GetAttribute(0); a != nullptr; a = a->GetNext()) {
        const char* name = a->GetName().GetBuffer();
        if (name == nullptr || std::strcmp(name, "build") != 0 || a->GetString() == nullptr || *a->GetString() == '\0')
            return reader.Fail(0, std::string("unknown attribute '") + (name ? name : "") +
                                      "' of <Project> (build = \"FOLDER\")");
        manifest->build = a->GetString();
    }
    if (root.GetNext() != nullptr) return reader.Fail(CountNodes(root), "nothing may follow </Project>");
    return ReadJobs(reader, root.GetChild(0), 1, manifest);
}

} // namespace

std::string ProjectJob::Get(const char* name, const char* absent) const
{
    for (const ProjectValue& v : values)
        if (v.name == name) return v.text;
    return absent;
}

std::vector<std::string> ProjectJob::GetAll(const char* name) const
{
    std::vector<std::string> all;
    for (const ProjectValue& v : values)
        if (v.name == name) all.push_back(v.text);
    return all;
}

const char* ProjectJobKindName(ProjectJobKind kind)
{
    for (const ElementRule& r : Rules())
        if (r.kind == kind) return r.element;
    return "";
}

bool ProjectManifestRead(const char* text, const std::string& name, ProjectManifest* manifest, std::string* error)
{
    *manifest = ProjectManifest();
    AtrParser parser;
    AtrNode* tree = parser.CreateTreeFromText(text, nullptr);
    if (tree == nullptr) {
        const CvString& log = parser.GetErrorLog();
        *error = name + ":" + std::to_string(parser.GetLine()) + ": not an attribute text";
        if (log.GetLength() != 0) *error += "\n" + PlatformCp932ToUtf8(log.GetBuffer());
        return false;
    }
    Reader reader(text, name);
    const char* root = tree->GetElement().GetBuffer();
    const bool ok = root != nullptr && std::strcmp(root, "Project") == 0 ? ReadProject(reader, *tree, manifest)
                                                                        : ReadJobs(reader, tree, 0, manifest);
    AtrNodeDestroyChain(tree);
    if (!ok) *error = reader.Error();
    return ok;
}
