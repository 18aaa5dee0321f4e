// The general clipboard of the desktop session.
#pragma once

#include "view/Pasteboard.h"

namespace corvantix {

class QtPasteboard final : public Pasteboard {
public:
    std::optional<std::string> string() const override;
    void setString(const std::string& text) override;
};

} // namespace corvantix
