import jssc.SerialPort;

// What jSSC can do on a port: each step prints "<step> ok" or "<step> failed".
public class JsscProbe {
    private static void step(String name, boolean ok) {
        System.out.println(name + (ok ? " ok" : " failed"));
    }

    public static void main(String[] args) throws Exception {
        SerialPort port = new SerialPort(args[0]);
        step("open", port.openPort());
        step("settings 7E1", port.setParams(9600, 7, 1, SerialPort.PARITY_EVEN));
        step("io", port.writeString("ping") && "ping".equals(port.readString(4, 2000)));
        step("dtr/rts off", port.setDTR(false) && port.setRTS(false));
        step("break", port.sendBreak(250));
        System.out.println("cts " + port.isCTS());
        step("close", port.closePort());
    }
}
