#include "app/parameter_watch.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "app/color_panel.h"
#include "settings/settings_model.h"

namespace globeforge {

namespace {

void Watch(QWidget* control, const ParameterCallbacks& callbacks) {
    const auto changed = [control, f = callbacks.changed] { f(control); };
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        QObject::connect(edit, &QLineEdit::textChanged, edit, changed);
    } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
        QObject::connect(check, &QCheckBox::toggled, check, changed);
    } else if (auto* radio = qobject_cast<QRadioButton*>(control)) {
        // The button that goes off tells nothing the one that comes on does not.
        QObject::connect(radio, &QRadioButton::toggled, radio, [changed](bool on) {
            if (on) changed();
        });
    } else if (auto* slider = qobject_cast<QSlider*>(control)) {
        QObject::connect(slider, &QSlider::valueChanged, slider,
                         [slider, changed, moving = callbacks.moving] {
                             if (slider->isSliderDown())
                                 moving();
                             else
                                 changed();
                         });
        QObject::connect(slider, &QSlider::sliderReleased, slider, changed);
    } else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
        QObject::connect(spin, &QSpinBox::valueChanged, spin, changed);
    } else if (auto* panel = qobject_cast<ColorPanel*>(control)) {
        QObject::connect(panel, &ColorPanel::ColorChanged, panel, changed);
    }
}

}  // namespace

void WatchParameters(QWidget* window, const ParameterCallbacks& callbacks) {
    for (const SettingInfo& info : SettingsTable()) {
        for (std::string_view name : info.controls) {
            if (name.empty()) continue;
            const QString objectName =
                QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
            if (auto* control = window->findChild<QWidget*>(objectName)) Watch(control, callbacks);
        }
    }
}

}  // namespace globeforge
