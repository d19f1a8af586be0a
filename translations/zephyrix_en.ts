<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>Messages</name>
    <message>
        <source>正在显示的帧序号 #%d</source>
        <translation>Showing frame #%d</translation>
    </message>
    <message>
        <source>帧序号 #%d 无效。</source>
        <translation>Frame #%d is not valid.</translation>
    </message>
    <message>
        <source>DIB 无效</source>
        <translation>Invalid DIB</translation>
    </message>
    <message>
        <source>像素格式无效</source>
        <translation>Invalid pixel format</translation>
    </message>
    <message>
        <source>扫描线指针超过范围。(%d)</source>
        <translation>Scan line index out of range. (%d)</translation>
    </message>
    <message>
        <source>JPEG-Fehler #%d</source>
        <translation>JPEG error #%d</translation>
    </message>
    <message>
        <source>JPEG 文件的扫描超过 %d 个</source>
        <translation>The JPEG file has more than %d scans</translation>
    </message>
    <message>
        <source>PNG 文件无效: %s</source>
        <translation>Invalid PNG file: %s</translation>
    </message>
    <message>
        <source>WebP 文件无效: %s</source>
        <translation>Invalid WebP file: %s</translation>
    </message>
    <message>
        <source>SVG 文件无效: %s</source>
        <translation>Invalid SVG file: %s</translation>
    </message>
    <message>
        <source>图像太大: 像素内存超过 512 MiB</source>
        <translation>Picture too large: its pixels would take more than 512 MiB</translation>
    </message>
    <message>
        <source>图像太大: 动画各帧的像素内存合计超过 %d MiB</source>
        <translation>Picture too large: the frames of the animation would take more than %d MiB together</translation>
    </message>
    <message>
        <source>颜色表溢出</source>
        <translation>Colour table overflow</translation>
    </message>
    <message>
        <source>颜色不在颜色表中</source>
        <translation>Colour not in the colour table</translation>
    </message>
    <message>
        <source>无效的颜色指数</source>
        <translation>Invalid colour index</translation>
    </message>
    <message>
        <source>此操作不支持此对象类型</source>
        <translation>This operation does not support this type of object</translation>
    </message>
    <message>
        <source>未被支持 GIF 样式</source>
        <translation>Unsupported GIF format</translation>
    </message>
    <message>
        <source>图像超出了合理的屏幕大小</source>
        <translation>The image exceeds a reasonable screen size</translation>
    </message>
    <message>
        <source>无效的 GIF 标识信号</source>
        <translation>Invalid GIF signature</translation>
    </message>
    <message>
        <source>过早的数据末端</source>
        <translation>Premature end of data</translation>
    </message>
    <message>
        <source>未知扩展类型</source>
        <translation>Unknown extension type</translation>
    </message>
    <message>
        <source>无效的扩展引入</source>
        <translation>Invalid extension introducer</translation>
    </message>
    <message>
        <source>不被支持的应用程序扩展数据快尺寸</source>
        <translation>Unsupported application extension block size</translation>
    </message>
    <message>
        <source>无效 GIF 数据</source>
        <translation>Invalid GIF data</translation>
    </message>
    <message>
        <source>未知 GIF 数据块类型</source>
        <translation>Unknown GIF block type</translation>
    </message>
    <message>
        <source>无效的图像尾部</source>
        <translation>Invalid image trailer</translation>
    </message>
    <message>
        <source>未定义整体或局部颜色表</source>
        <translation>Neither a global nor a local colour table is defined</translation>
    </message>
    <message>
        <source>GIF 逻辑屏幕的宽度或高度为 0</source>
        <translation>The logical screen of the GIF has a width or height of 0</translation>
    </message>
    <message>
        <source>GIF 文件中没有图像</source>
        <translation>The GIF file holds no image</translation>
    </message>
    <message>
        <source>GIF 图像的宽度或高度超过 65535</source>
        <translation>The width or height of the GIF image exceeds 65535</translation>
    </message>
    <message>
        <source>无效的 LZW 最小代码长度 (%d)</source>
        <translation>Invalid LZW minimum code size (%d)</translation>
    </message>
    <message>
        <source>无效的位图列表</source>
        <translation>Invalid bitmap list</translation>
    </message>
    <message>
        <source>无效的图像维数尺寸</source>
        <translation>Invalid image dimensions</translation>
    </message>
    <message>
        <source>用于 GIF DIB 分配内存失败</source>
        <translation>Out of memory for the GIF DIB</translation>
    </message>
    <message>
        <source>透明遮罩与帧的尺寸不符</source>
        <translation>The transparency mask does not fit the size of the frame</translation>
    </message>
    <message>
        <source>动画的帧尺寸不一致</source>
        <translation>The frames of the animation differ in size</translation>
    </message>
    <message>
        <source>动画的帧数过多 (%d)</source>
        <translation>Too many frames in the animation (%d)</translation>
    </message>
    <message>
        <source>正在创建调色板</source>
        <translation>Creating the palette</translation>
    </message>
    <message>
        <source>正在重新着色图像 </source>
        <translation>Recolouring the frames</translation>
    </message>
    <message>
        <source>保存文件...</source>
        <translation>Saving the file...</translation>
    </message>
    <message>
        <source>正在渲染 帧 #%d</source>
        <translation>Rendering frame #%d</translation>
    </message>
    <message>
        <source>Frames %d 超出范围 %d..%d</source>
        <translation>Frames %d out of range %d..%d</translation>
    </message>
    <message>
        <source>GIFBits %d 超出范围 %d..%d</source>
        <translation>GIFBits %d out of range %d..%d</translation>
    </message>
    <message>
        <source>GIFDelay %d 超出范围 %d..%d</source>
        <translation>GIFDelay %d out of range %d..%d</translation>
    </message>
    <message>
        <source>GIFLoops %d 超出范围 %d..%d</source>
        <translation>GIFLoops %d out of range %d..%d</translation>
    </message>
    <message>
        <source>动画中没有帧</source>
        <translation>The animation has no frames</translation>
    </message>
    <message>
        <source>第 %d 帧不是 24 位图像</source>
        <translation>Frame %d is not a 24-bit picture</translation>
    </message>
    <message>
        <source>第 %d 帧的尺寸与第 1 帧不同</source>
        <translation>Frame %d differs in size from frame 1</translation>
    </message>
    <message>
        <source>第 %d 帧的透明度平面不是帧尺寸的 8 位图像</source>
        <translation>The alpha plane of frame %d is not an 8-bit picture of the frame&apos;s size</translation>
    </message>
    <message>
        <source>透明度平面多于帧</source>
        <translation>More alpha planes than frames</translation>
    </message>
    <message>
        <source>动画的宽度或高度超过 %d</source>
        <translation>The animation is wider or taller than %d</translation>
    </message>
    <message>
        <source>%s 编码失败</source>
        <translation>%s encoding failed</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>循环：连续不断</source>
        <translation>Loops: endless</translation>
    </message>
    <message>
        <source>循环：%d</source>
        <translation>Loops: %d</translation>
    </message>
    <message>
        <source>颜色：%d (%d 位)</source>
        <translation>Colours: %d (%d bits)</translation>
    </message>
    <message>
        <source>禁止 (快速)</source>
        <translation>Off (fast)</translation>
    </message>
    <message>
        <source>4x4 (缓慢)</source>
        <translation>4x4 (slow)</translation>
    </message>
    <message>
        <source>左</source>
        <translation>L</translation>
    </message>
    <message>
        <source>中</source>
        <translation>C</translation>
    </message>
    <message>
        <source>右</source>
        <translation>R</translation>
    </message>
    <message>
        <source>顶</source>
        <translation>T</translation>
    </message>
    <message>
        <source>底</source>
        <translation>B</translation>
    </message>
    <message>
        <source>帧数：&lt;#Pos&gt;</source>
        <translation>Frames: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>距离：&lt;#Pos&gt;</source>
        <translation>Distance: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>振幅：&lt;#Pos&gt;%</source>
        <translation>Amplitude: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>频率：&lt;#Pos&gt;</source>
        <translation>Frequency: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>角度：&lt;#Pos&gt;</source>
        <translation>Angle: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>强度：&lt;#Pos&gt;%</source>
        <translation>Intensity: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>亮度：&lt;#Pos&gt;%</source>
        <translation>Brightness: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>对比度：&lt;#Pos&gt;%</source>
        <translation>Contrast: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>延迟：&lt;#Mul1&gt; 毫秒</source>
        <translation>Delay: &lt;#Mul1&gt; ms</translation>
    </message>
    <message>
        <source>反锯齿</source>
        <translation>Antialiasing</translation>
    </message>
    <message>
        <source>颜色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>透明</source>
        <translation>Transparent</translation>
    </message>
    <message>
        <source>反转亮度</source>
        <translation>Invert light</translation>
    </message>
    <message>
        <source>高质量</source>
        <translation>High quality</translation>
    </message>
    <message>
        <source>辐射波纹</source>
        <translation>Radial ripples</translation>
    </message>
    <message>
        <source>尺寸：&lt;#Pos&gt;%</source>
        <translation>Size: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>投影深度：&lt;#Pos&gt;%</source>
        <translation>Shadow: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>水平对齐</source>
        <translation>Horizontal</translation>
    </message>
    <message>
        <source>垂直调整</source>
        <translation>Vertical</translation>
    </message>
    <message>
        <source>旗杆侧</source>
        <translation>Hoist</translation>
    </message>
    <message>
        <source>固定宽度: &lt;#Pos&gt;%</source>
        <translation>Hoist width: &lt;#Pos&gt;%</translation>
    </message>
    <message>
        <source>显示旗杆</source>
        <translation>Show pole</translation>
    </message>
    <message>
        <source>导出尺寸</source>
        <translation>Export size</translation>
    </message>
    <message>
        <source>有损: &lt;#Pos&gt;</source>
        <translation>Lossy: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>最大文件大小 (KB)</source>
        <translation>Maximum file size (KB)</translation>
    </message>
    <message>
        <source>WebP 质量: &lt;#Pos&gt;</source>
        <translation>WebP quality: &lt;#Pos&gt;</translation>
    </message>
    <message>
        <source>WebP 无损</source>
        <translation>WebP lossless</translation>
    </message>
    <message>
        <source>无</source>
        <comment>side of the pole</comment>
        <translation>None</translation>
    </message>
    <message>
        <source>左</source>
        <comment>side of the pole</comment>
        <translation>Left</translation>
    </message>
    <message>
        <source>右</source>
        <comment>side of the pole</comment>
        <translation>Right</translation>
    </message>
    <message>
        <source>上</source>
        <comment>side of the pole</comment>
        <translation>Top</translation>
    </message>
    <message>
        <source>下</source>
        <comment>side of the pole</comment>
        <translation>Bottom</translation>
    </message>
</context>
<context>
    <name>zx::TAboutBox</name>
    <message>
        <source>版本 1.05 - 1999 年 12 月 11 日</source>
        <translation>Version 1.05 - 11 December 1999</translation>
    </message>
</context>
<context>
    <name>zx::TAboutBoxForm</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>关于 %1</source>
        <translation>About %1</translation>
    </message>
</context>
<context>
    <name>zx::TColorBoxForm</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>色调</source>
        <translation>Hue</translation>
    </message>
    <message>
        <source>饱和度</source>
        <translation>Saturation</translation>
    </message>
    <message>
        <source>亮度</source>
        <translation>Brightness</translation>
    </message>
    <message>
        <source>红色</source>
        <translation>Red</translation>
    </message>
    <message>
        <source>绿色</source>
        <translation>Green</translation>
    </message>
    <message>
        <source>蓝色</source>
        <translation>Blue</translation>
    </message>
    <message>
        <source>函数值 (%1)</source>
        <translation>Values (%1)</translation>
    </message>
</context>
<context>
    <name>zx::TFirstStartCheck</name>
    <message>
        <source>无法写入应用程序菜单中的菜单项</source>
        <translation>Could not write the entry in the application menu</translation>
    </message>
    <message>
        <source>无法保存启动记录: %1</source>
        <translation>Could not save the start record: %1</translation>
    </message>
</context>
<context>
    <name>zx::TFlagForm</name>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>打开(&amp;O)...</source>
        <translation>&amp;Open...</translation>
    </message>
    <message>
        <source>保存(&amp;S)...</source>
        <translation>&amp;Save...</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Pre&amp;view</translation>
    </message>
    <message>
        <source>退出(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>粘贴图片(&amp;P)</source>
        <translation>&amp;Paste picture</translation>
    </message>
    <message>
        <source>文本(&amp;T)...</source>
        <translation>&amp;Text...</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>信息(&amp;I)...</source>
        <translation>&amp;Information...</translation>
    </message>
    <message>
        <source>动画</source>
        <translation>Animation</translation>
    </message>
    <message>
        <source>旗帜</source>
        <translation>Flag</translation>
    </message>
    <message>
        <source>抖动</source>
        <translation>Bumps</translation>
    </message>
    <message>
        <source>光线</source>
        <translation>Light</translation>
    </message>
    <message>
        <source>背景</source>
        <translation>Background</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>所有可支持的格式|*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.png;*.webp;*.svg|位图文件 (*.bmp)|*.bmp|JPegs (*.jpg)|*.jpg|GIFs (*.gif)|*.gif|PNGs (*.png)|*.png|WebPs (*.webp)|*.webp|SVGs (*.svg)|*.svg</source>
        <translation>All supported formats|*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.png;*.webp;*.svg|Bitmap files (*.bmp)|*.bmp|JPEGs (*.jpg)|*.jpg|GIFs (*.gif)|*.gif|PNGs (*.png)|*.png|WebPs (*.webp)|*.webp|SVGs (*.svg)|*.svg</translation>
    </message>
    <message>
        <source>剪贴板为空！</source>
        <translation>The clipboard is empty!</translation>
    </message>
    <message>
        <source>让每一幅图片都迎风飘扬。</source>
        <translation>Let every picture wave in the wind.</translation>
    </message>
    <message>
        <source>GIF 图像</source>
        <translation>GIF image</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>已写入 %1 字节</source>
        <translation>%1 bytes written</translation>
    </message>
    <message numerus="yes">
        <source>%1 x %2 像素 x %3 颜色 x %4 帧 x %5 字节</source>
        <translation>
            <numerusform>%1 x %2 pixels x %3 colours x %4 frame x %5 bytes</numerusform>
            <numerusform>%1 x %2 pixels x %3 colours x %4 frames x %5 bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>（最大文件大小 %1 KB：有损 %2，%3 位）</source>
        <translation> (maximum file size %1 KB: lossy %2, %3 bits)</translation>
    </message>
    <message>
        <source>WebP 动画</source>
        <translation>WebP animation</translation>
    </message>
    <message>
        <source>APNG 动画</source>
        <translation>APNG animation</translation>
    </message>
    <message>
        <source>这些选项仅对保存的文件有效：延迟、循环和最大文件大小适用于 GIF、WebP 和 APNG，WebP 质量和 WebP 无损仅适用于 WebP，其余选项仅适用于 GIF。</source>
        <translation>These options only affect saved files: delay, loops and the size limit apply to GIF, WebP and APNG, WebP quality and WebP lossless to WebP only, the others to GIF only.</translation>
    </message>
</context>
<context>
    <name>zx::TFlagWork</name>
    <message>
        <source>正在读取图片...</source>
        <translation>Reading the picture...</translation>
    </message>
    <message>
        <source>正在保存 %1 文件。请等待保存完成，或点击“取消”。</source>
        <translation>The %1 file is being saved. Wait until it is saved, or click “Cancel”.</translation>
    </message>
    <message>
        <source>正在渲染 帧 %1/%2</source>
        <translation>Rendering frame %1/%2</translation>
    </message>
    <message>
        <source>正在编码 %1</source>
        <translation>Encoding %1</translation>
    </message>
    <message>
        <source>正在尝试第 %1 次</source>
        <translation>Trying settings, try %1</translation>
    </message>
</context>
<context>
    <name>zx::TPreviewForm</name>
    <message>
        <source>GIF 预览</source>
        <translation>GIF Preview</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>&amp;Save...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>&amp;Cancel</translation>
    </message>
</context>
<context>
    <name>zx::TShowForm</name>
    <message>
        <source>旗帜</source>
        <translation>Flag</translation>
    </message>
</context>
<context>
    <name>zx::TTextForm</name>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>字体</source>
        <translation>Font</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>zx::TWorkBar</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>zx::XBoxUnit</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>zx::XRegistryUnit</name>
    <message>
        <source>无法写入设置值“%1”：没有打开的键</source>
        <translation>Cannot write the setting “%1”: no key is open</translation>
    </message>
    <message>
        <source>无法写入设置文件 %1</source>
        <translation>Cannot write the settings file %1</translation>
    </message>
</context>
</TS>
