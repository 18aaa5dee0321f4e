// A grid position: a column and a row. What the row counts (screen rows or line numbers of
// a buffer's ring) is said by each user.
#pragma once

namespace corvantix {

struct Position {
    int col = 0;
    int row = 0;

    friend constexpr bool operator==(const Position&, const Position&) = default;
};

} // namespace corvantix
