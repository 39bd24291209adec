// The state of every parameter control of the main window, as one value: what the window
// shows, what a settings file stores and what a render is gathered from. The window binds its
// widgets to it through the settings table (key, kind, widget names, member, render
// parameter); the command-line renderer fills it from settings files and uses it directly.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "core/render_params.h"
#include "core/version.h"

namespace globeforge {

// The version text the program writes into settings files.
inline constexpr std::string_view kProgramVersion = kVersionText;

// A position that always lies within its range, as a track bar or a spin field keeps it.
class TrackBar {
  public:
    constexpr TrackBar(int32_t min, int32_t max, int32_t position)
        : min_(min), max_(max), position_(std::clamp(position, min, max)) {}

    constexpr int32_t Min() const { return min_; }
    constexpr int32_t Max() const { return max_; }
    constexpr int32_t Position() const { return position_; }
    constexpr void SetPosition(int32_t position) { position_ = std::clamp(position, min_, max_); }

    friend bool operator==(const TrackBar&, const TrackBar&) = default;

  private:
    int32_t min_;
    int32_t max_;
    int32_t position_;
};

// The checked button of a mixture-mode radio group. A group has exactly one checked button,
// so "Add first, then Norm, else Sub" (rendering) and "the last checked of Add, Norm, Sub"
// (saving) always agree.
enum class MixtureButton : uint8_t { Add, Norm, Sub };

// A colour panel's colour: 0x00BBGGRR (red in the low byte). Any 32-bit value a settings
// file holds is kept, so it is written back unchanged.
using PanelColor = uint32_t;

// Members bear the names of the controls they stand for; a radio group is named after its
// panel's buttons.
struct SettingsModel {
    // The "Version" of the last file loaded; nothing reads it, and files are always written
    // with kProgramVersion.
    std::string VersionText{kProgramVersion};

    std::string Seed = "65536";
    std::string ResX = "512";
    std::string ResY = "512";
    TrackBar Ovsmp{1, 9, 1};  // the oversampling spin field

    std::string DeepPartPictureName;
    bool DeepAutoCreate = false;
    PanelColor DeepColor1 = 0x00000080;
    PanelColor DeepColor2 = 0x00CCEEFF;
    TrackBar DeepContr{0, 100, 100};
    TrackBar DeepSizeX{1, 100, 1};
    TrackBar DeepSizeY{1, 100, 1};
    PanelColor DeepSeaColor1 = 0x00FF0000;
    PanelColor DeepSeaColor2 = 0x00800000;
    TrackBar DeepSeaThr{0, 100, 0};
    PanelColor DeepIceColor = 0x00FFFFFF;
    TrackBar DeepIceQua{0, 100, 0};
    std::string NumOfCrater = "0";
    std::string RadOfCrater = "10";
    TrackBar CraterHeight{0, 100, 100};
    TrackBar CraterYuragi{0, 100, 50};
    TrackBar CraterNoise{0, 100, 100};
    MixtureButton DeepMixture = MixtureButton::Add;  // DeepAdd / DeepNorm / DeepSub
    TrackBar DeepTranspare{0, 100, 0};

    std::string SurfacePartPictureName;
    bool SurfacePartPictureReverse = false;
    MixtureButton AirBmpMixture = MixtureButton::Norm;  // AirBmpAdd / AirBmpNorm / AirBmpSub
    TrackBar AirBmpTranspare{0, 100, 0};
    bool AirAutoCreate = false;
    PanelColor AirColor1 = 0x00FFFFFF;
    PanelColor AirColor2 = 0x00C0C0C0;
    TrackBar AirContr{1, 100, 1};
    TrackBar AirSizeX{1, 100, 1};
    TrackBar AirSizeY{1, 100, 1};
    MixtureButton AirMixture = MixtureButton::Norm;  // AirAdd / AirNorm / AirSub
    TrackBar AirTranspare{0, 100, 0};

    std::string ColorName;
    std::string BumpName;
    std::string SpecularName;
    std::string CloudColorName;
    std::string CloudBumpName;
    std::string CloudTraName;
    // The output form group: forAlphaBlending checked (true) or forTranspareMappinng (false).
    bool forAlphaBlending = false;

    // Extended outputs for 3D work.
    bool HeightDepth16 = false;  // the height depth group: HeightDepth16 (true) or HeightDepth8
    std::string NormalName;
    TrackBar NormalStrength{1, 100, 20};
    bool CubeMapFaces = false;  // every named map also as six cube faces

    friend bool operator==(const SettingsModel&, const SettingsModel&) = default;
};

// How a setting is shown, stored and loaded.
enum class SettingKind : uint8_t {
    Version,           // no control; the version text
    Text,              // text field
    Bool,              // check box
    Color,             // colour panel
    TrackBar,          // track bar
    Spin,              // spin field (a TrackBar limited to 1..9)
    Mixture,           // radio group of Add, Norm and Sub buttons
    TransparencyMode,  // radio group forTranspareMappinng / forAlphaBlending (a bool)
    HeightDepth,       // radio group HeightDepth8 / HeightDepth16 (a bool), written 8 or 16
};

// The model member a setting lives in.
using SettingMember =
    std::variant<std::string SettingsModel::*, bool SettingsModel::*, PanelColor SettingsModel::*,
                 TrackBar SettingsModel::*, MixtureButton SettingsModel::*>;

// The render parameter a setting is gathered into, named after its key; none for the version.
using SettingParam =
    std::variant<std::monostate, std::string RenderParams::*, int32_t RenderParams::*,
                 bool RenderParams::*, FloatPixel RenderParams::*, uint8_t RenderParams::*>;

struct SettingInfo {
    std::string_view key;  // the settings-file key (case-sensitive)
    SettingKind kind;
    // The widget names: one for most kinds; the Add, Norm and Sub buttons of a mixture group;
    // forTranspareMappinng and forAlphaBlending for the output form; HeightDepth8 and
    // HeightDepth16 for the height depth; none for the version.
    std::array<std::string_view, 3> controls;
    SettingMember member;
    SettingParam param;
};

inline constexpr size_t kSettingCount = 47;

// Every setting, in the order a settings file lists them.
const std::array<SettingInfo, kSettingCount>& SettingsTable();

// The setting of a key (exact, case-sensitive), or nullptr.
const SettingInfo* FindSetting(std::string_view key);

// The setting whose widget (or one of whose radio buttons) bears this name, or nullptr.
const SettingInfo* FindSettingByControl(std::string_view controlName);

// Typed access to a setting's member: nullptr when the setting is not of type T (std::string
// for Version and Text, bool for Bool, TransparencyMode and HeightDepth, PanelColor, TrackBar for
// TrackBar and Spin, MixtureButton).
template <class T>
T* SettingValue(SettingsModel& model, const SettingInfo& info) {
    auto* member = std::get_if<T SettingsModel::*>(&info.member);
    return member ? &(model.**member) : nullptr;
}

template <class T>
const T* SettingValue(const SettingsModel& model, const SettingInfo& info) {
    auto* member = std::get_if<T SettingsModel::*>(&info.member);
    return member ? &(model.**member) : nullptr;
}

}  // namespace globeforge
