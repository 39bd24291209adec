<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ja_JP">
<context>
    <name>globeforge::ExtendedOutputDialog</name>
    <message>
        <source>各マップをキューブマップの6面としても出力する</source>
        <translation>Also write each map as six cube-map faces</translation>
    </message>
    <message>
        <source>拡張出力設定</source>
        <translation>Extended output</translation>
    </message>
    <message>
        <source>8ビット</source>
        <translation>8 bits</translation>
    </message>
    <message>
        <source>16ビット</source>
        <translation>16 bits</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>バンプマップ(.png)の高さの精度</source>
        <translation>Bump map (.png) height depth</translation>
    </message>
    <message>
        <source>法線マップ</source>
        <translation>Normal map</translation>
    </message>
    <message>
        <source>法線マップの強さ</source>
        <translation>Normal map strength</translation>
    </message>
</context>
<context>
    <name>globeforge::JPEGQualityForm</name>
    <message>
        <source>JPEG圧縮率の指定</source>
        <translation>JPEG quality</translation>
    </message>
    <message>
        <source>低品質高圧縮省サイズ</source>
        <translation>Low quality, small file</translation>
    </message>
    <message>
        <source>高品質低圧縮大サイズ</source>
        <translation>High quality, large file</translation>
    </message>
    <message>
        <source>圧縮率と品質のトレードオフを指定します。</source>
        <translation>Sets the trade-off between file size and quality.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>globeforge::MainWindow</name>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>地球儀ビュー(&amp;G)</source>
        <translation>&amp;Globe view</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>...</translation>
    </message>
    <message>
        <source>▼クリックするとプレビュー作画です。128x128, オーバーサンプリング 1（なし）で作画します。</source>
        <translation>▼ Click for a preview render: 128x128, oversampling 1 (none).</translation>
    </message>
    <message>
        <source>▲プレビュー表示の切り替え</source>
        <translation>▲ Switch the map shown</translation>
    </message>
    <message>
        <source>地表(バンプマップ）画像読み込み</source>
        <translation>Ground (bump map) picture to load</translation>
    </message>
    <message>
        <source>地表(海面を含む）の自動生成</source>
        <translation>Generate the ground and sea</translation>
    </message>
    <message>
        <source>色(高）</source>
        <translation>High</translation>
    </message>
    <message>
        <source>色(低）</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>地表</source>
        <translation>Ground</translation>
    </message>
    <message>
        <source>凸凹感</source>
        <translation>Relief</translation>
    </message>
    <message>
        <source>Ｘゆらぎ</source>
        <translation>X warp</translation>
    </message>
    <message>
        <source>Ｙゆらぎ</source>
        <translation>Y warp</translation>
    </message>
    <message>
        <source>色(浅）</source>
        <translation>Shallow</translation>
    </message>
    <message>
        <source>色(深）</source>
        <translation>Deep</translation>
    </message>
    <message>
        <source>海面</source>
        <translation>Sea</translation>
    </message>
    <message>
        <source>海岸線</source>
        <translation>Coastline</translation>
    </message>
    <message>
        <source>色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>氷雪</source>
        <translation>Ice</translation>
    </message>
    <message>
        <source>氷の量</source>
        <translation>Ice amount</translation>
    </message>
    <message>
        <source>クレーター</source>
        <translation>Craters</translation>
    </message>
    <message>
        <source>数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>基本半径</source>
        <translation>Radius</translation>
    </message>
    <message>
        <source>高さ</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>ゆらぎ</source>
        <translation>Warp</translation>
    </message>
    <message>
        <source>ノイズ</source>
        <translation>Noise</translation>
    </message>
    <message>
        <source> 加算</source>
        <translation> Add</translation>
    </message>
    <message>
        <source>通常</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>減算</source>
        <translation>Sub</translation>
    </message>
    <message>
        <source>合成モード</source>
        <translation>Blend</translation>
    </message>
    <message>
        <source>不透明</source>
        <translation>Opaque</translation>
    </message>
    <message>
        <source>透明</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>雲(α,もしくはバンプマップ）画像読み込み</source>
        <translation>Clouds (alpha or bump map) picture to load</translation>
    </message>
    <message>
        <source>反転</source>
        <translation>Invert</translation>
    </message>
    <message>
        <source>雲の自動生成</source>
        <translation>Generate the clouds</translation>
    </message>
    <message>
        <source>色(濃）</source>
        <translation>Dense</translation>
    </message>
    <message>
        <source>色(淡）</source>
        <translation>Thin</translation>
    </message>
    <message>
        <source>雲</source>
        <translation>Clouds</translation>
    </message>
    <message>
        <source>雲の量</source>
        <translation>Amount</translation>
    </message>
    <message>
        <source>画像出力</source>
        <translation>Output maps</translation>
    </message>
    <message>
        <source>雲側の出力画像を一つも指定しない場合、地表側のテクスチャーに雲のデータを合成し出力します。▼</source>
        <translation>When no cloud map is named, the clouds are mixed into the ground maps.▼</translation>
    </message>
    <message>
        <source>地表(海面を含む）</source>
        <translation>Ground and sea</translation>
    </message>
    <message>
        <source>色（地表）</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>バンプ（地表）</source>
        <translation>Bump</translation>
    </message>
    <message>
        <source>スペキュラー（海面）</source>
        <translation>Specular (sea)</translation>
    </message>
    <message>
        <source>色（雲）</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>バンプ（雲）</source>
        <translation>Bump</translation>
    </message>
    <message>
        <source>透明度（雲）</source>
        <translation>Transparency</translation>
    </message>
    <message>
        <source>透明度マッピング用</source>
        <translation>for transparency mapping</translation>
    </message>
    <message>
        <source>アルファー合成用</source>
        <translation>for alpha blending</translation>
    </message>
    <message>
        <source>色と透明度の出力形式</source>
        <translation>Colour and transparency</translation>
    </message>
    <message>
        <source>がんばって本作画</source>
        <translation>Render</translation>
    </message>
    <message>
        <source>作画中止</source>
        <translation>Abort</translation>
    </message>
    <message>
        <source>乱数のシード</source>
        <translation>Random seed</translation>
    </message>
    <message>
        <source>オーバーサンプリング</source>
        <translation>Oversampling</translation>
    </message>
    <message>
        <source>倍</source>
        <translation>x</translation>
    </message>
    <message>
        <source>出力解像度</source>
        <translation>Output size</translation>
    </message>
    <message>
        <source>Ｘ</source>
        <translation>x</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>設定を開く(&amp;O)</source>
        <translation>&amp;Open settings...</translation>
    </message>
    <message>
        <source>設定を保存(&amp;S)</source>
        <translation>&amp;Save settings</translation>
    </message>
    <message>
        <source>設定に名前をつけて保存(&amp;A)</source>
        <translation>Save settings &amp;as...</translation>
    </message>
    <message>
        <source>glTF (GLB) で書き出し...</source>
        <translation>Export glTF (GLB)...</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>オプション(&amp;O)</source>
        <translation>&amp;Options</translation>
    </message>
    <message>
        <source>JPEG圧縮設定...(&amp;J)</source>
        <translation>&amp;JPEG quality...</translation>
    </message>
    <message>
        <source>拡張出力設定...(&amp;E)</source>
        <translation>&amp;Extended output...</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>新規.ORB</source>
        <translation>New.ORB</translation>
    </message>
    <message>
        <source>ﾋﾞｯﾄﾏｯﾌﾟ (*.bmp *.jpg *.jpeg *.png)</source>
        <translation>Pictures (*.bmp *.jpg *.jpeg *.png)</translation>
    </message>
    <message>
        <source>ﾋﾞｯﾄﾏｯﾌﾟ (*.bmp *.jpg *.jpeg *.png *.exr)</source>
        <translation>Pictures (*.bmp *.jpg *.jpeg *.png *.exr)</translation>
    </message>
    <message>
        <source>`画像のセーブエラー発生。致命的かも。</source>
        <translation>A map could not be saved. This may be serious.</translation>
    </message>
    <message>
        <source>オルブゲンデータファイル (*.ORB)</source>
        <translation>GlobeForge settings (*.ORB)</translation>
    </message>
    <message>
        <source>別のシード</source>
        <translation>New seed</translation>
    </message>
    <message>
        <source>乱数のシードを新しく引いてプレビューします (Ctrl+R)</source>
        <translation>Draw a new random seed and preview it (Ctrl+R)</translation>
    </message>
    <message>
        <source>地表の色マップ</source>
        <translation>Ground colour map</translation>
    </message>
    <message>
        <source>地表のバンプマップ</source>
        <translation>Ground bump map</translation>
    </message>
    <message>
        <source>海面のスペキュラーマップ</source>
        <translation>Sea specular map</translation>
    </message>
    <message>
        <source>雲の色マップ</source>
        <translation>Cloud colour map</translation>
    </message>
    <message>
        <source>雲のバンプマップ</source>
        <translation>Cloud bump map</translation>
    </message>
    <message>
        <source>雲の透明度マップ</source>
        <translation>Cloud transparency map</translation>
    </message>
    <message>
        <source>法線マップ</source>
        <translation>Normal map</translation>
    </message>
    <message>
        <source>最近使った設定ファイル(&amp;R)</source>
        <translation>&amp;Recent settings files</translation>
    </message>
    <message>
        <source>編集(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>元に戻す</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>やり直し</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>自動プレビュー</source>
        <translation>Live preview</translation>
    </message>
    <message>
        <source>設定の変更を %1 に保存しますか？</source>
        <translation>Save the changes to the settings in %1?</translation>
    </message>
    <message>
        <source>保存する</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>保存しない</source>
        <translation>Don't save</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>globeforge::GlobeWindow</name>
    <message>
        <source>地球儀ビュー</source>
        <translation>Globe view</translation>
    </message>
    <message>
        <source>雲を隠す</source>
        <translation>Hide clouds</translation>
    </message>
    <message>
        <source>PNGで保存...</source>
        <translation>Save PNG...</translation>
    </message>
    <message>
        <source>ドラッグで回転、ホイールで拡大縮小、Shift+ドラッグで太陽を移動</source>
        <translation>Drag to turn, wheel to zoom, Shift+drag to move the sun</translation>
    </message>
    <message>
        <source>プレビューか本作画のあとに地球儀が表示されます。</source>
        <translation>The globe appears after a preview or a full render.</translation>
    </message>
    <message>
        <source>地球儀の画像を保存できませんでした。</source>
        <translation>The globe picture could not be saved.</translation>
    </message>
    <message>
        <source>地球儀の画像を保存</source>
        <translation>Save the globe picture</translation>
    </message>
    <message>
        <source>PNG画像 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
</context>
</TS>
