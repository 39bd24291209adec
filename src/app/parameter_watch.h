// Tells the window of every change of a control that a settings file holds (the settings
// table is the one list of them), so it can record an undo step and start a preview.
#pragma once

#include <functional>

class QObject;
class QWidget;

namespace globeforge {

struct ParameterCallbacks {
    // A change that is complete: a click, a key, a release of a dragged slider, new text.
    std::function<void(QObject* source)> changed;
    // A slider moved while it is still held: worth a preview, not yet an undo step.
    std::function<void()> moving;
};

// Connects the change signals of the settings' controls among window's children.
void WatchParameters(QWidget* window, const ParameterCallbacks& callbacks);

}  // namespace globeforge
