// A row of small key caps above the message field: each cap sends the bytes of one special key
// (escape, tab, return, four control characters, four arrows) straight to the tab's terminal,
// bypassing the message field.
#pragma once

#include "tab/MacTab.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QScrollArea>
#include <QString>

namespace halvoren {



struct KeyCap {
    QString label;
    QByteArray bytes;
};

// The caps in display order. The arrows are always the CSI forms, whatever cursor-key mode the
// program asked for: they are meant for shells and line editors, which read both.
const QList<KeyCap>& defaultKeyBarKeys();

// Scrolls sideways when narrower than its caps, never wraps them to a second row.
class KeyBar : public QScrollArea {
    Q_OBJECT

public:
    explicit KeyBar(QWidget* parent = nullptr);

    // The tab whose terminal receives the caps; none sends nothing.
    void setTab(MacTab* value) { tab = value; }
    // Sends one cap's bytes, whole, as the user's input.
    void press(const KeyCap& cap);

    const QList<KeyCap> keys = defaultKeyBarKeys();

protected:
    // Without scroll bars the wheel is the way to reach caps out of view.
    void wheelEvent(QWheelEvent* event) override;

private:
    QPointer<MacTab> tab;
};

} // namespace halvoren
