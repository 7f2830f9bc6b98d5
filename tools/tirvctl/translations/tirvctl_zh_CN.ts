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
        <source>The new COM name, COM1 to COM255, not in use.</source>
        <translation>新的串口号，COM1 到 COM255，且未被使用。</translation>
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
</context>
</TS>
