#pragma once
// The project manifest: one attribute text ("lumivor.atr" at a project's
// root) naming every job of a UI project, one element per job:
//
//   <Project build = "build">                        (optional root)
//     <Bundle instance = "i.atr", template = "t.atr", output = "menu.bin",
//             code = "MENU", defs = "ids.h" />
//     <Script source = "menu.drs", output = "menu.bin", include = "lib",
//             fixed = 12, debug = 1 />
//     <Sound input = "sounds/*.wav", output = "sounds", quality = 5 />
//     <Image input = "icons/*.png", output = "icons", format = "palette",
//            colors = 64, quality = "best" />
//     <Qr text = "HELLO", output = "hello.bmp", png = 1 />
//   </Project>
//
// Attributes marked repeatable (defs, include, input) may be given several
// times. Relative input paths are taken from the project folder; outputs
// name files (or folders) inside the build folder's "out" tree. Unknown
// elements, unknown attributes, missing required ones and values of the
// wrong kind are errors naming the manifest's line.
//
// The reader needs the kit running (it parses with AtrParser).

#include <string>
#include <vector>

enum class ProjectJobKind { Bundle, Script, Sound, Image, Qr };

// One attribute of a job: its name and its value as text (numbers are kept
// as the decimal text the manifest gave).
struct ProjectValue {
    std::string name;
    std::string text;
};

struct ProjectJob {
    ProjectJobKind kind;
    int line = 0;
    std::vector<ProjectValue> values;

    // The first value of `name`, or `absent`.
    std::string Get(const char* name, const char* absent = "") const;
    // Every value of `name`, in the manifest's order.
    std::vector<std::string> GetAll(const char* name) const;
};

struct ProjectManifest {
    std::string build = "build";   // the build folder, relative to the project
    std::vector<ProjectJob> jobs;
};

// Reads the manifest text; false with the first error as "FILE:LINE: message"
// in `error` (FILE is `name`).
bool ProjectManifestRead(const char* text, const std::string& name, ProjectManifest* manifest, std::string* error);

// The element name of a kind ("Bundle", ...).
const char* ProjectJobKindName(ProjectJobKind kind);
