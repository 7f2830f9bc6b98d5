<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CommandDispatcher</name>
    <message>
        <source>Print JSON for scripts.</source>
        <translation>输出 JSON，供脚本使用。</translation>
    </message>
    <message>
        <source>IPv4 address of the device.</source>
        <translation>设备的 IPv4 地址。</translation>
    </message>
    <message>
        <source>COM name of a virtual port, such as COM3.</source>
        <translation>虚拟串口的串口号，例如 COM3。</translation>
    </message>
    <message>
        <source>Number of serial ports of the device, 1 to 48.</source>
        <translation>设备的串口数量，1 到 48。</translation>
    </message>
    <message>
        <source>Device type (default: &lt;PORTS&gt;Ports).</source>
        <translation>设备类型（默认：&lt;PORTS&gt;Ports）。</translation>
    </message>
    <message>
        <source>MAC address text of the device (default: null).</source>
        <translation>设备的 MAC 地址文本（默认：null）。</translation>
    </message>
    <message>
        <source>Number of the device port, from 1.</source>
        <translation>设备端口号，从 1 开始。</translation>
    </message>
    <message>
        <source>Deletes every virtual port of a device.</source>
        <translation>删除设备的全部虚拟串口。</translation>
    </message>
    <message>
        <source>Deletes a virtual port.</source>
        <translation>删除一个虚拟串口。</translation>
    </message>
    <message>
        <source>Gives a virtual port another COM name.</source>
        <translation>修改虚拟串口的串口号。</translation>
    </message>
    <message>
        <source>The new COM name, COM1 to COM%1, not in use.</source>
        <translation>新的串口号，COM1 到 COM%1，且未被使用。</translation>
    </message>
    <message>
        <source>Search through this network interface only (system name, such as eth0).</source>
        <translation>只通过此网络接口搜索（系统名称，例如 eth0）。</translation>
    </message>
    <message>
        <source>Search for this many seconds (default: 5).</source>
        <translation>搜索的秒数（默认：5）。</translation>
    </message>
    <message>
        <source>Unknown command "%1".</source>
        <translation>未知命令“%1”。</translation>
    </message>
    <message>
        <source>The command.</source>
        <translation>命令。</translation>
    </message>
    <message>
        <source>Wrong number of arguments for "%1": %2 expected.</source>
        <translation>“%1”的参数个数不对：应为 %2 个。</translation>
    </message>
    <message>
        <source>Run "tirvctl %1--help" for help.</source>
        <translation>运行“tirvctl %1--help”查看帮助。</translation>
    </message>
    <message>
        <source>Usage: tirvctl COMMAND [options] [arguments]</source>
        <translation>用法：tirvctl 命令 [选项] [参数]</translation>
    </message>
    <message>
        <source>Lists, makes and removes TIRV's virtual serial ports from a shell.</source>
        <translation>在命令行中列出、创建和删除 TIRV 的虚拟串口。</translation>
    </message>
    <message>
        <source>Commands:</source>
        <translation>命令：</translation>
    </message>
    <message>
        <source>Run "tirvctl COMMAND --help" for a command's options.</source>
        <translation>运行“tirvctl 命令 --help”查看命令的选项。</translation>
    </message>
    <message>
        <source>Lists the devices and their virtual ports.</source>
        <translation>列出设备及其虚拟串口。</translation>
    </message>
    <message>
        <source>Each port shows its COM name, device port, TCP target, state and link in the port directory.</source>
        <translation>每个串口显示串口号、设备端口、TCP 目标、状态以及端口目录中的链接。</translation>
    </message>
    <message>
        <source>Makes a virtual port for every port of a device.</source>
        <translation>为设备的每个端口创建虚拟串口。</translation>
    </message>
    <message>
        <source>Unless given, type and MAC address are those of the manual device entry.</source>
        <translation>未指定时，设备类型和 MAC 地址与手动添加设备时相同。</translation>
    </message>
    <message>
        <source>Makes the virtual port of one port of a device.</source>
        <translation>创建设备某一个端口的虚拟串口。</translation>
    </message>
    <message>
        <source>The device must have virtual ports already; its type, port count and MAC address are taken from them.</source>
        <translation>该设备必须已有虚拟串口；设备类型、串口数量和 MAC 地址取自这些串口。</translation>
    </message>
    <message>
        <source>Searches the local IPv4 networks for devices.</source>
        <translation>在本地 IPv4 网络中搜索设备。</translation>
    </message>
    <message>
        <source>The search is broadcast at once and then every 5 seconds; the devices that answer are listed at the end.</source>
        <translation>搜索立即广播，之后每 5 秒广播一次；结束时列出应答的设备。</translation>
    </message>
    <message>
        <source>Protocol to the device: raw (bytes as they are, the default) or rfc2217 (Telnet carrying the serial settings).</source>
        <translation>与设备之间的协议：raw（字节原样传送，默认）或 rfc2217（用 Telnet 同时传送串口设置）。</translation>
    </message>
    <message>
        <source>Shows every setting of a virtual port.</source>
        <translation>显示虚拟串口的全部设置。</translation>
    </message>
    <message>
        <source>Also the port&apos;s line: for RFC 2217 what the device applied and the modem lines, for RAW what programs started by tirv-run set.</source>
        <translation>还显示串口的线路：RFC 2217 串口为设备已采用的设置和调制解调器信号线，RAW 串口为经 tirv-run 启动的程序所设置的内容。</translation>
    </message>
    <message>
        <source>Changes settings of a virtual port.</source>
        <translation>修改虚拟串口的设置。</translation>
    </message>
    <message>
        <source>Data bits and parity are sent to an RFC 2217 device while a program has the port open; changing the protocol, send mode or connect on open makes the port anew.</source>
        <translation>有程序打开串口时，数据位和校验位会发送给 RFC 2217 设备；修改协议、发送模式或“打开串口时才连接”会重新创建该串口。</translation>
    </message>
    <message>
        <source>Data bits of the device's line, 5 to 8.</source>
        <translation>设备线路的数据位，5 到 8。</translation>
    </message>
    <message>
        <source>Parity of the device's line: none, odd, even, mark or space.</source>
        <translation>设备线路的校验位：none（无）、odd（奇校验）、even（偶校验）、mark（标记）或 space（空格）。</translation>
    </message>
    <message>
        <source>0 or 1: send at once; 2: pack bytes until the send delay passes without one.</source>
        <translation>0 或 1：立即发送；2：先缓存数据，直到一个发包延时内没有新字节时再发送。</translation>
    </message>
    <message>
        <source>Send delay of mode 2, in ms.</source>
        <translation>模式 2 的发包延时，单位为毫秒。</translation>
    </message>
    <message>
        <source>on: connect only while a program has the port open; off: stay connected.</source>
        <translation>on：只在有程序打开串口时连接；off：始终保持连接。</translation>
    </message>
</context>
<context>
    <name>CtlCommands</name>
    <message>
        <source>The port count must be a number from %1 to %2.</source>
        <translation>串口数量必须是 %1 到 %2 之间的数字。</translation>
    </message>
    <message>
        <source>The device type and MAC address must not be empty or contain "@".</source>
        <translation>设备类型和 MAC 地址不能为空，也不能包含“@”。</translation>
    </message>
    <message>
        <source>Device %1 has no virtual ports; add the device first.</source>
        <translation>设备 %1 没有虚拟串口；请先添加设备。</translation>
    </message>
    <message>
        <source>The device port must be a number from 1 to %1.</source>
        <translation>设备端口必须是 1 到 %1 之间的数字。</translation>
    </message>
    <message>
        <source>Device %1 has no virtual ports.</source>
        <translation>设备 %1 没有虚拟串口。</translation>
    </message>
    <message>
        <source>"%1" is not a COM name such as COM3.</source>
        <translation>“%1”不是 COM3 这样的串口号。</translation>
    </message>
    <message>
        <source>There is no virtual port %1.</source>
        <translation>没有虚拟串口 %1。</translation>
    </message>
    <message>
        <source>The new COM name must be one of COM1 to COM%1.</source>
        <translation>新的串口号必须是 COM1 到 COM%1 之一。</translation>
    </message>
    <message>
        <source>The search time must be a number of seconds from 1 to %1.</source>
        <translation>搜索时间必须是 1 到 %1 之间的秒数。</translation>
    </message>
    <message>
        <source>There is no network interface %1.</source>
        <translation>没有网络接口 %1。</translation>
    </message>
    <message>
        <source>Cannot search from %1</source>
        <translation>无法从 %1 搜索</translation>
    </message>
    <message>
        <source>No usable IPv4 address to search from.</source>
        <translation>没有可用于搜索的 IPv4 地址。</translation>
    </message>
    <message>
        <source>The device type and MAC address are too long: a port's name holds at most %1 characters.</source>
        <translation>设备类型和 MAC 地址太长：串口名称最多只能有 %1 个字符。</translation>
    </message>
    <message>
        <source>The protocol must be raw or rfc2217.</source>
        <translation>协议必须是 raw 或 rfc2217。</translation>
    </message>
    <message>
        <source>The data bits must be a number from 5 to 8.</source>
        <translation>数据位必须是 5 到 8 之间的数字。</translation>
    </message>
    <message>
        <source>The parity must be none, odd, even, mark or space.</source>
        <translation>校验位必须是 none、odd、even、mark 或 space。</translation>
    </message>
    <message>
        <source>The send mode must be 0, 1 or 2.</source>
        <translation>发送模式必须是 0、1 或 2。</translation>
    </message>
    <message>
        <source>The send delay must be a number of ms from 0 to %1.</source>
        <translation>发包延时必须是 0 到 %1 之间的毫秒数。</translation>
    </message>
    <message>
        <source>Connect on open must be on or off.</source>
        <translation>“打开串口时才连接”必须是 on 或 off。</translation>
    </message>
    <message>
        <source>Nothing to set: give at least one setting.</source>
        <translation>没有要修改的设置：请至少给出一项设置。</translation>
    </message>
</context>
<context>
    <name>CtlPrinter</name>
    <message>
        <source>Warning: %1 (%2)</source>
        <translation>警告：%1（%2）</translation>
    </message>
    <message>
        <source>No virtual ports.</source>
        <translation>没有虚拟串口。</translation>
    </message>
    <message>
        <source>Device %1  type %2  ports %3  MAC %4</source>
        <translation>设备 %1  类型 %2  端口 %3  MAC %4</translation>
    </message>
    <message>
        <source>port %1</source>
        <translation>端口 %1</translation>
    </message>
    <message>
        <source>No devices found.</source>
        <translation>未找到设备。</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Ports</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>MAC</source>
        <translation>MAC地址</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP地址</translation>
    </message>
    <message>
        <source>on</source>
        <translation>开</translation>
    </message>
    <message>
        <source>off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>protocol</source>
        <translation>协议</translation>
    </message>
    <message>
        <source>data bits</source>
        <translation>数据位</translation>
    </message>
    <message>
        <source>parity</source>
        <translation>校验位</translation>
    </message>
    <message>
        <source>send mode</source>
        <translation>发送模式</translation>
    </message>
    <message>
        <source>send delay</source>
        <translation>发包延时</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 毫秒</translation>
    </message>
    <message>
        <source>connect on open</source>
        <translation>打开串口时才连接</translation>
    </message>
    <message>
        <source>line</source>
        <translation>设备线路</translation>
    </message>
    <message>
        <source>requested</source>
        <translation>请求的设置</translation>
    </message>
    <message>
        <source>applied</source>
        <translation>设备已采用</translation>
    </message>
    <message>
        <source>modem lines</source>
        <translation>调制解调器信号线</translation>
    </message>
    <message>
        <source>RAW: kept, not sent to the device</source>
        <translation>RAW：仅保存，不发往设备</translation>
    </message>
    <message>
        <source>%1 data bits, parity %2</source>
        <translation>%1 位数据位，校验 %2</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>negotiating</source>
        <translation>正在协商</translation>
    </message>
    <message>
        <source>supported</source>
        <translation>支持串口设置</translation>
    </message>
    <message>
        <source>settings not supported</source>
        <translation>设备不支持串口设置</translation>
    </message>
    <message>
        <source>sent</source>
        <translation>已发送</translation>
    </message>
    <message>
        <source>received</source>
        <translation>已接收</translation>
    </message>
    <message>
        <source>reconnects</source>
        <translation>重连次数</translation>
    </message>
    <message>
        <source>dropped while away</source>
        <translation>离线时丢弃</translation>
    </message>
    <message>
        <source>last connect</source>
        <translation>上次连接</translation>
    </message>
    <message>
        <source>never</source>
        <translation>从未</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 字节</translation>
    </message>
</context>
</TS>
