#include "gpu/qt/MetalShaderLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace corvantix {

const std::vector<std::string>& metalShaderFunctionNames()
{
    static const std::vector<std::string> names = {
        "terminal_text_vertex",  "terminal_cell_text_vertex",  "terminal_text_fragment", "terminal_text_fragment_gray",
        "terminal_color_vertex", "terminal_cell_color_vertex", "terminal_color_fragment",
    };
    return names;
}

namespace {

// Positions arrive in drawable pixels with the origin at the lower left; `viewport` holds the
// drawable's width and height.
constexpr const char* textVertex = R"(#version 330 core
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(location = 2) in vec4 color;
uniform vec2 viewport;
out vec2 fragTexCoord;
out vec4 fragColor;
void main() {
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragTexCoord = texCoord;
    fragColor = color;
}
)";

// One text cell per six vertices (two triangles, no instancing): each record is three texels
// of the cell buffer: (x, y, width, height) in pixels, the atlas corner at (x, y) and the
// atlas size the cell covers (u, v, width, height, normalised), colour.
constexpr const char* cellTextVertex = R"(#version 330 core
uniform samplerBuffer cells;
uniform vec2 viewport;
out vec2 fragTexCoord;
out vec4 fragColor;
const vec2 corners[6] = vec2[6](vec2(0, 0), vec2(1, 0), vec2(0, 1), vec2(1, 0), vec2(1, 1), vec2(0, 1));
void main() {
    int record = gl_VertexID / 6;
    vec2 corner = corners[gl_VertexID % 6];
    vec4 rect = texelFetch(cells, record * 3);
    vec4 uv = texelFetch(cells, record * 3 + 1);
    vec2 position = rect.xy + corner * rect.zw;
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragTexCoord = uv.xy + corner * uv.zw;
    fragColor = texelFetch(cells, record * 3 + 2);
}
)";

// Colour glyphs and images: premultiplied texels, tinted only by the vertex alpha.
constexpr const char* textFragment = R"(#version 330 core
uniform sampler2D glyphs;
in vec2 fragTexCoord;
in vec4 fragColor;
out vec4 outColor;
void main() {
    outColor = texture(glyphs, fragTexCoord) * fragColor.a;
}
)";

// The single-channel atlas: coverage times the premultiplied vertex colour.
constexpr const char* textFragmentGray = R"(#version 330 core
uniform sampler2D glyphs;
in vec2 fragTexCoord;
in vec4 fragColor;
out vec4 outColor;
void main() {
    float coverage = texture(glyphs, fragTexCoord).r;
    outColor = vec4(fragColor.rgb * fragColor.a, fragColor.a) * coverage;
}
)";

constexpr const char* colorVertex = R"(#version 330 core
layout(location = 0) in vec2 position;
layout(location = 1) in vec4 color;
uniform vec2 viewport;
out vec4 fragColor;
void main() {
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragColor = color;
}
)";

// One filled cell per six vertices: (x, y, width, height) in pixels, then the colour.
constexpr const char* cellColorVertex = R"(#version 330 core
uniform samplerBuffer cells;
uniform vec2 viewport;
out vec4 fragColor;
const vec2 corners[6] = vec2[6](vec2(0, 0), vec2(1, 0), vec2(0, 1), vec2(1, 0), vec2(1, 1), vec2(0, 1));
void main() {
    int record = gl_VertexID / 6;
    vec4 rect = texelFetch(cells, record * 2);
    vec2 position = rect.xy + corners[gl_VertexID % 6] * rect.zw;
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragColor = texelFetch(cells, record * 2 + 1);
}
)";

constexpr const char* colorFragment = R"(#version 330 core
in vec4 fragColor;
out vec4 outColor;
void main() {
    outColor = fragColor;
}
)";

QOpenGLShader::ShaderType stageOf(const std::string& name)
{
    return name.ends_with("_vertex") ? QOpenGLShader::Vertex : QOpenGLShader::Fragment;
}

std::string joinedFunctionNames()
{
    std::string text;
    for (const std::string& name : metalShaderFunctionNames()) {
        if (!text.empty())
            text += ", ";
        text += name;
    }
    return text;
}

} // namespace

const std::map<std::string, std::string>& builtInMetalShaderSources()
{
    static const std::map<std::string, std::string> sources = {
        {"terminal_text_vertex", textVertex},
        {"terminal_cell_text_vertex", cellTextVertex},
        {"terminal_text_fragment", textFragment},
        {"terminal_text_fragment_gray", textFragmentGray},
        {"terminal_color_vertex", colorVertex},
        {"terminal_cell_color_vertex", cellColorVertex},
        {"terminal_color_fragment", colorFragment},
    };
    return sources;
}

QString defaultMetalShaderOverrideFolder()
{
    if (QCoreApplication::instance() == nullptr)
        return {};
    return QCoreApplication::applicationDirPath() + QStringLiteral("/shaders");
}

std::variant<std::unique_ptr<MetalShaderLibrary>, MetalError> MetalShaderLibrary::load(
    const MetalShaderLibraryOptions& options)
{
    // The built-in copy, when every stage is there and compiles; the first that does not
    // sends the lookup on to the override folder.
    {
        auto library = std::make_unique<MetalShaderLibrary>();
        bool complete = true;
        for (const std::string& name : metalShaderFunctionNames()) {
            const auto source = options.builtIn.find(name);
            if (source == options.builtIn.end()) {
                complete = false;
                break;
            }
            auto shader = std::make_unique<QOpenGLShader>(stageOf(name));
            if (!shader->compileSourceCode(QByteArray::fromStdString(source->second))) {
                complete = false;
                break;
            }
            library->functions_[name] = std::move(shader);
        }
        if (complete)
            return library;
    }

    // The override folder's stages, compiled now. The error names the shader source as
    // every host knows it, whatever folder was searched.
    std::map<std::string, QByteArray> sources;
    if (!options.overrideFolder.isEmpty()) {
        const QDir folder(options.overrideFolder);
        for (const std::string& name : metalShaderFunctionNames()) {
            QFile file(folder.filePath(QString::fromStdString(name) + QStringLiteral(".glsl")));
            // Stage sources are small; a file that is not is not one of them.
            if (file.open(QIODevice::ReadOnly) && file.size() <= 1024 * 1024)
                sources[name] = file.readAll();
        }
    }
    if (sources.empty())
        return MetalError::shaderSourceMissing("Apple/Metal/Shaders.metal");

    auto library = std::make_unique<MetalShaderLibrary>();
    for (const auto& [name, source] : sources) {
        auto shader = std::make_unique<QOpenGLShader>(stageOf(name));
        if (!shader->compileSourceCode(source))
            return MetalError::shaderCompilationFailed(shader->log().trimmed().toStdString());
        library->functions_[name] = std::move(shader);
    }
    for (const std::string& name : metalShaderFunctionNames()) {
        if (!library->function(name))
            return MetalError::shaderFunctionMissing(joinedFunctionNames());
    }
    return library;
}

QOpenGLShader* MetalShaderLibrary::function(const std::string& name) const
{
    const auto found = functions_.find(name);
    return found == functions_.end() ? nullptr : found->second.get();
}

} // namespace corvantix
