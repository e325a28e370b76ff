#!/usr/bin/python3
"""A Modbus RTU slave that this project did not write (pymodbus), holding the
register image of the worked example, at address 1 or at the addresses given:
pymodbus_slave.py <serial device> <baud> [address ...]"""
import logging
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer

# Registers 0..25 of the worked example: 12.5, 1234 + 0.5678, empty-pipe
# alarm, 1.25, 50, 3.3, 100.
WORKED_EXAMPLE = [
    0x4148, 0x0000, 0x0000, 0x0000, 0x04D2, 0x3F11, 0x5B57, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0001, 0x0000, 0x0000, 0x3FA0, 0x0000,
    0x4248, 0x0000, 0x4053, 0x3333, 0x42C8, 0x0000,
]


def main():
    logging.basicConfig(level=logging.WARNING)
    device, baud = sys.argv[1], int(sys.argv[2])
    addresses = [int(a) for a in sys.argv[3:]] or [1]
    slaves = {a: ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, WORKED_EXAMPLE), zero_mode=True)
              for a in addresses}
    context = ModbusServerContext(slaves=slaves, single=False)
    print("ready", flush=True)
    StartSerialServer(context=context, framer=ModbusRtuFramer, port=device, baudrate=baud)


if __name__ == "__main__":
    main()
