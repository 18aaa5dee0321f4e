// The renderer's shader programs: seven GLSL 3.3 stages named after the renderer's entry
// points. A copy of each is built into the engine and used when all seven compile; otherwise
// the stages are read from an override folder, one file "<entry point>.glsl" each, compiled
// at run time. Failures keep the texts every host compares with.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <QOpenGLShader>
#include <QString>

#include "gpu/MetalErrors.h"

namespace corvantix {

// The seven entry points, in the order they are looked up.
const std::vector<std::string>& metalShaderFunctionNames();

// The built-in stage sources by entry point.
const std::map<std::string, std::string>& builtInMetalShaderSources();

struct MetalShaderLibraryOptions {
    std::map<std::string, std::string> builtIn = builtInMetalShaderSources();
    // Searched when the built-in stages are not all usable; empty for none.
    QString overrideFolder;
};

// The folder beside the executable that holds replacement stages: "<application dir>/shaders".
QString defaultMetalShaderOverrideFolder();

// Compiled stages by entry point; needs a current OpenGL 3.3 context.
class MetalShaderLibrary {
public:
    static std::variant<std::unique_ptr<MetalShaderLibrary>, MetalError> load(const MetalShaderLibraryOptions& options);

    // The compiled stage, or null.
    QOpenGLShader* function(const std::string& name) const;

private:
    std::map<std::string, std::unique_ptr<QOpenGLShader>> functions_;
};

} // namespace corvantix
