// The look the window gives every field the user types into, shared by the main window and
// its dialogs.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace globeforge {

// Text fields are black with lime-green text.
inline void PaintAsTextField(QWidget* field) {
    QPalette pal = field->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, QColor(0, 255, 0));
    field->setPalette(pal);
}

}  // namespace globeforge
