# Opens a port for Modbus RTU at 7E1, as a program talking to a meter would.
import sys

from pymodbus.client import ModbusSerialClient

client = ModbusSerialClient(port=sys.argv[1], baudrate=9600, bytesize=7, parity="E", stopbits=1)
print("connected", client.connect(), flush=True)
client.close()
