<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>AboutHelp</name>
    <message>
        <source>关于帮助</source>
        <translation>About Help</translation>
    </message>
</context>
<context>
    <name>AddDevice</name>
    <message>
        <source>IP地址：</source>
        <translation>IP address:</translation>
    </message>
    <message>
        <source>串口数量：</source>
        <translation>Number of port:</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>添加设备</source>
        <translation>Add device</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>请输入规范的IP地址!</source>
        <translation>Please enter a standardized IP address!</translation>
    </message>
</context>
<context>
    <name>AppointVcom</name>
    <message>
        <source>Dialog</source>
        <translation>Create COM</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>设备端口序列：</source>
        <translation>Device port sequence:</translation>
    </message>
</context>
<context>
    <name>GetDevice</name>
    <message>
        <source>IP地址</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>MAC地址</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>以网卡搜索：</source>
        <translation>Search by network card:</translation>
    </message>
    <message>
        <source>全选/取消选中</source>
        <translation>Select all/Deselect all</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>所有网卡</source>
        <translation>All network cards</translation>
    </message>
    <message>
        <source>搜索设备</source>
        <translation>Search device</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Ports</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>编号</source>
        <translation>Number</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>IP地址</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>MAC地址</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>MainWindow</source>
        <translation>TIRV</translation>
    </message>
    <message>
        <source>串口列表</source>
        <translation>Port list</translation>
    </message>
    <message>
        <source>修改串口</source>
        <translation>Modify COM</translation>
    </message>
    <message>
        <source>修改串口号</source>
        <translation>Modify COM</translation>
    </message>
    <message>
        <source>关于帮助</source>
        <translation>About Help</translation>
    </message>
    <message>
        <source>创建虚拟串口</source>
        <translation>Create COM</translation>
    </message>
    <message>
        <source>删除串口</source>
        <translation>Delete COM</translation>
    </message>
    <message>
        <source>开机自启动关闭</source>
        <translation>Turn off on auto-start</translation>
    </message>
    <message>
        <source>更改未能保存</source>
        <translation>changes are not being saved</translation>
    </message>
    <message>
        <source>开机自启动打开</source>
        <translation>Power on auto-start</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>搜索设备</source>
        <translation>Search Device</translation>
    </message>
    <message>
        <source>搜索设备...</source>
        <translation>Search device...</translation>
    </message>
    <message>
        <source>正在清空串口...</source>
        <translation>Clearing serial port...</translation>
    </message>
    <message>
        <source>正在生成串口...</source>
        <translation>Generating serial port...</translation>
    </message>
    <message>
        <source>添加设备</source>
        <translation>Add Device</translation>
    </message>
    <message>
        <source>清空所有串口</source>
        <translation>Delete all COM</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Ports</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>系统设置</source>
        <translation>System Settings</translation>
    </message>
    <message>
        <source>编号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>网页配置</source>
        <translation>Web config</translation>
    </message>
    <message>
        <source>无法启动网页浏览器。请在浏览器中手动打开以下地址：
%1</source>
        <translation>No web browser could be started. Open this address by hand:
%1</translation>
    </message>
    <message>
        <source>设备列表</source>
        <translation>Device list</translation>
    </message>
    <message>
        <source>连接状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>串口设置</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>协议：%1</source>
        <translation>Protocol: %1</translation>
    </message>
    <message>
        <source>设备不支持串口设置</source>
        <translation>The device does not take serial settings</translation>
    </message>
    <message>
        <source>设备线路：%1</source>
        <translation>Device line: %1</translation>
    </message>
    <message>
        <source>设备线路：未知</source>
        <translation>Device line: not known yet</translation>
    </message>
    <message>
        <source>链接：%1</source>
        <translation>Link: %1</translation>
    </message>
    <message>
        <source>设备：%1</source>
        <translation>Device: %1</translation>
    </message>
    <message>
        <source>状态：%1</source>
        <translation>State: %1</translation>
    </message>
    <message>
        <source>原因：%1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>已发送 %1 字节，已接收 %2 字节</source>
        <translation>Sent %1 bytes, received %2 bytes</translation>
    </message>
    <message>
        <source>重连 %1 次，离线时丢弃 %2 字节</source>
        <translation>Reconnects: %1, dropped while away: %2 bytes</translation>
    </message>
    <message>
        <source>上次连接：%1</source>
        <translation>Last connected: %1</translation>
    </message>
    <message>
        <source>从未连接</source>
        <translation>Never connected</translation>
    </message>
    <message>
        <source>复制串口路径</source>
        <translation>Copy port path</translation>
    </message>
</context>
<context>
    <name>ModifyCom</name>
    <message>
        <source>COM%1（使用中）</source>
        <translation>COM%1（in use）</translation>
    </message>
    <message>
        <source>串口号：</source>
        <translation>Port name:</translation>
    </message>
    <message>
        <source>使用中</source>
        <translation>in use</translation>
    </message>
    <message>
        <source>修改串口</source>
        <translation>Modify COM</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>当前串口已被使用！</source>
        <translation>The current COM is already in use!</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Save</translation>
    </message>
</context>
<context>
    <name>PortSettings</name>
    <message>
        <source>串口设置</source>
        <translation>Port settings</translation>
    </message>
    <message>
        <source>协议：</source>
        <translation>Protocol:</translation>
    </message>
    <message>
        <source>数据位：</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>校验位：</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>空格</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>发送模式：</source>
        <translation>Send mode:</translation>
    </message>
    <message>
        <source>发包延时：</source>
        <translation>Send delay:</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> ms</translation>
    </message>
    <message>
        <source>打开串口时才连接</source>
        <translation>Connect only while the port is open</translation>
    </message>
    <message>
        <source>数据位和校验位只用于 RFC 2217 设备。</source>
        <translation>Data bits and parity are used by RFC 2217 devices only.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>RefreshTree</name>
    <message>
        <source>修改串口设置失败！</source>
        <translation>Failed to change the port settings!</translation>
    </message>
    <message>
        <source>串口关闭</source>
        <translation>COM Closed</translation>
    </message>
    <message>
        <source>串口打开</source>
        <translation>COM Opened</translation>
    </message>
    <message>
        <source>串口错误</source>
        <translation>COM Error</translation>
    </message>
    <message>
        <source>修改串口号失败！</source>
        <translation>Failed to modify COM !</translation>
    </message>
    <message>
        <source>创建虚拟串口失败！</source>
        <translation>Failed to create virtual serial port!</translation>
    </message>
    <message>
        <source>删除虚拟串口失败！</source>
        <translation>Failed to delete COM!</translation>
    </message>
    <message>
        <source>已连接</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>当前设备已存在虚拟串口！</source>
        <translation>The current device already has a virtual serial port!</translation>
    </message>
    <message>
        <source>当前设备端口已存在相应的虚拟串口！</source>
        <translation>The COM of current device port already exists!</translation>
    </message>
    <message>
        <source>未连接</source>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>添加虚拟串口失败！</source>
        <translation>Failed to add virtual serial port!</translation>
    </message>
    <message>
        <source>清空虚拟串口失败！</source>
        <translation>Failed to delete all COM!</translation>
    </message>
    <message>
        <source>获取所有虚拟串口信息失败！</source>
        <translation>Failed to obtain all virtual serial port information!</translation>
    </message>
    <message>
        <source>虚拟串口服务初始化失败！</source>
        <translation>Service initialization connection failed!</translation>
    </message>
    <message>
        <source>%1（自 %2 起）</source>
        <translation>%1 (since %2)</translation>
    </message>
    <message>
        <source>%1（自 %2 起，%3 重试）</source>
        <translation>%1 (since %2, next try at %3)</translation>
    </message>
    <message>
        <source>设备拒绝连接</source>
        <translation>the device refused the connection</translation>
    </message>
    <message>
        <source>设备不可达</source>
        <translation>the device cannot be reached</translation>
    </message>
    <message>
        <source>设备无应答</source>
        <translation>the device does not answer</translation>
    </message>
    <message>
        <source>设备断开了连接</source>
        <translation>the device closed the connection</translation>
    </message>
    <message>
        <source>无法创建串口：%1</source>
        <translation>the port could not be made: %1</translation>
    </message>
    <message>
        <source>连接失败：%1</source>
        <translation>the connection failed: %1</translation>
    </message>
    <message>
        <source>COM%1 以内没有空闲的串口号</source>
        <translation>no COM number up to COM%1 is free</translation>
    </message>
    <message>
        <source>COM%2 以内没有 %1 个连续的空闲串口号</source>
        <translation>no %1 free COM numbers in a row up to COM%2</translation>
    </message>
    <message>
        <source>设备型号和 MAC 地址使串口名称超过服务保存的长度（%1 个字符）</source>
        <translation>the device&apos;s type and MAC address make the port names longer than the service keeps (%1 characters)</translation>
    </message>
</context>
<context>
    <name>SystemSettings</name>
    <message>
        <source>Dialog</source>
        <translation>System settings</translation>
    </message>
    <message>
        <source>启动设置</source>
        <translation>Auto-start settings</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>Auto-start at boot</translation>
    </message>
    <message>
        <source>语言设置</source>
        <translation>Language settings</translation>
    </message>
</context>
<context>
    <name>TIRVStyle</name>
    <message>
        <source>TIRV</source>
        <translation>TIRV</translation>
    </message>
</context>
<context>
    <name>help</name>
    <message>
        <source>使用说明</source>
        <translation>Instruction</translation>
    </message>
</context>
<context>
    <name>progressbar</name>
    <message>
        <source>当前进度</source>
        <translation>Current progress</translation>
    </message>
</context>
</TS>
