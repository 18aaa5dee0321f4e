// The general clipboard as the view uses it: one text. The Qt view backs it with the
// system clipboard (view/qt/QtPasteboard.h); tests use MemoryPasteboard.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace corvantix {

class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // The clipboard's text; none when it holds no text.
    virtual std::optional<std::string> string() const = 0;
    // Clears the clipboard and stores the text as its only content.
    virtual void setString(const std::string& text) = 0;
};

// A clipboard that lives in memory only.
class MemoryPasteboard final : public Pasteboard {
public:
    std::optional<std::string> string() const override { return content; }
    void setString(const std::string& text) override { content = text; }

    std::optional<std::string> content;
};

// The process's find string: a term searched in one terminal is offered to every other.
inline std::shared_ptr<Pasteboard> processFindPasteboard()
{
    static const std::shared_ptr<Pasteboard> shared = std::make_shared<MemoryPasteboard>();
    return shared;
}

} // namespace corvantix
