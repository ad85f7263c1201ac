#pragma once
// The build plan of a project manifest as a Ninja file: one edge per output
// (one per input file for sounds and images, unless an image job shares one
// palette), each running our own programs by absolute path with the options
// of its job. Bundles and scripts write Make-style dependency files, which
// Ninja keeps in its own log (deps = gcc), so an edit of an embedded file,
// a header or an included script rebuilds exactly the outputs that read it.
//
// Inputs are taken from the project folder (relative paths and glob
// patterns are resolved there); outputs go under <build>/out/.

#include "cli/ProjectManifest.h"

#include <string>

struct ProjectTools {
    std::string lumivor;      // absolute path of the lumivor program
    std::string zafencoder;   // absolute path of zafencoder; empty: "lumivor audio"
};

struct ProjectPaths {
    std::string project;   // absolute project folder
    std::string build;     // absolute build folder (holds build.ninja)
};

// The text of build.ninja; false with "FILE:LINE: message" in `error` for a
// job that cannot be planned (a pattern matching nothing, an unknown image
// format, two jobs writing one output). `manifestName` names the manifest in
// messages.
bool ProjectNinjaWrite(const ProjectManifest& manifest, const ProjectPaths& paths, const ProjectTools& tools,
                       const std::string& manifestName, std::string* text, std::string* error);
