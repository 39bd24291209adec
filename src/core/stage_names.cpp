#include "core/stage_names.h"

#include <array>

namespace globeforge {

namespace {

constexpr std::array kStageNames = {
    StageName{"作画開始..", "render-start", "Rendering..."},
    StageName{"地表ハイトマップ・表面基本パターン作成終了", "ground-base",
              "Ground heightmap: base pattern done."},
    StageName{"地表ハイトマップ・歪みフィルタ1作成終了", "ground-warp-1",
              "Ground heightmap: warp filter 1 done."},
    StageName{"地表ハイトマップ・歪みフィルタ2作成終了", "ground-warp-2",
              "Ground heightmap: warp filter 2 done."},
    StageName{"地表ハイトマップ・歪みフィルタ3作成終了", "ground-warp-3",
              "Ground heightmap: warp filter 3 done."},
    StageName{"地表ハイトマップ・歪みフィルタ合成終了", "ground-warp-combined",
              "Ground heightmap: warp filters combined."},
    StageName{"地表ハイトマップ・表面画像作成終了", "ground-surface",
              "Ground heightmap: surface image done."},
    StageName{"地表ハイトマップ・クレーター穴部作成終了", "crater-bowl",
              "Ground heightmap: crater bowl done."},
    StageName{"地表ハイトマップ・クレーター基本形作成終了", "crater-ridges",
              "Ground heightmap: crater basic shape done."},
    StageName{"地表ハイトマップ・クレーターゆらぎフィルタ作成終了", "crater-swirl-map",
              "Ground heightmap: crater swirl filter done."},
    StageName{"地表ハイトマップ・クレーター作成終了", "crater-stamp",
              "Ground heightmap: crater done."},
    StageName{"地表ハイトマップ・北半球クレーター配置終了", "craters-north-placed",
              "Ground heightmap: northern hemisphere craters placed."},
    StageName{"地表ハイトマップ：北半球クレーター展開終了", "craters-north-projected",
              "Ground heightmap: northern hemisphere craters projected."},
    StageName{"地表ハイトマップ・南半球クレーター配置終了", "craters-south-placed",
              "Ground heightmap: southern hemisphere craters placed."},
    StageName{"地表ハイトマップ：南半球クレーター展開終了", "craters-south-projected",
              "Ground heightmap: southern hemisphere craters projected."},
    StageName{"地表ハイトマップ画像作成終了", "ground-heightmap", "Ground heightmap done."},
    StageName{"雲・基本パターン作成終了", "cloud-base", "Clouds: base pattern done."},
    StageName{"雲・歪みフィルタ1作成終了", "cloud-warp-1", "Clouds: warp filter 1 done."},
    StageName{"雲・歪みフィルタ2作成終了", "cloud-warp-2", "Clouds: warp filter 2 done."},
    StageName{"雲・歪みフィルタ3作成終了", "cloud-warp-3", "Clouds: warp filter 3 done."},
    StageName{"雲・歪みフィルタ合成終了", "cloud-warp-combined", "Clouds: warp filters combined."},
    StageName{"雲・基本画像作成終了", "cloud-surface", "Clouds: base image done."},
    StageName{"雲基本画像作成終了", "cloud-layer", "Cloud layer done."},
    StageName{"地表・色テクスチャ作成完了", "map-ground-color", "Ground colour map done."},
    StageName{"地表・バンプテクスチャ作成完了", "map-ground-bump", "Ground bump map done."},
    StageName{"地表・スペキュラーテクスチャ作成完了", "map-specular", "Specular map done."},
    StageName{"地表・法線テクスチャ作成完了", "map-normal", "Normal map done."},
    StageName{"雲・色テクスチャ作成完了", "map-cloud-color", "Cloud colour map done."},
    StageName{"雲・バンプテクスチャ作成完了", "map-cloud-bump", "Cloud bump map done."},
    StageName{"雲・透明度テクスチャ作成完了", "map-cloud-transparency",
              "Cloud transparency map done."},
    StageName{"作画終了", "render-finished", "Render finished."},
    StageName{"作画中止", "render-aborted", "Render aborted."},
};

}  // namespace

std::span<const StageName> StageNames() {
    return kStageNames;
}

const StageName* FindStageName(std::string_view message) {
    for (const StageName& name : kStageNames) {
        if (name.message == message) return &name;
    }
    return nullptr;
}

std::string_view StageSlug(std::string_view message) {
    const StageName* name = FindStageName(message);
    return name ? name->slug : kGenericStageSlug;
}

}  // namespace globeforge
