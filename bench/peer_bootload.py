#!/usr/bin/python3
"""What an instrument engineer might write instead of txbootload -Y: the same
five exchanges with the same pauses, through the spidev Python module."""
import fcntl
import os
import sys
import time

import spidev

M_NULL, M_BOOT_LOAD_MODE, M_REQ_INFO = 9, 21, 22
GPIO_PREPARE_PIN = 0x40046B00 + 17
GPIO_GET_PIN = 0x40046B00 + 19

spi = spidev.SpiDev()
spi.open(0, 1)
spi.mode = 1
spi.bits_per_word = 8
spi.max_speed_hz = 800000
gpio = os.open("/dev/fpga_config.0", os.O_RDWR)

state = {"counter": 0, "ack": 0, "fast": False, "not_before": 0.0}


def pause_s(msg_type):
    if msg_type == M_REQ_INFO:
        return 0.0002 if state["fast"] else 0.060
    return 0.0002 if state["fast"] else 0.004


def ready_reading():
    record = bytearray(b"PA15\0\0")
    fcntl.ioctl(gpio, GPIO_PREPARE_PIN, record)
    record = bytearray(b"PA15\0\0")
    fcntl.ioctl(gpio, GPIO_GET_PIN, record)
    return record[5] == 0


def exchange(msg_type, length):
    state["counter"] = state["counter"] % 255 + 1
    frame = [msg_type, state["counter"], 5, 8, state["ack"], 0, 0, 0]
    total = sum(frame)
    frame[6], frame[7] = total & 0xFF, total >> 8
    frame += [0] * (length - 8)

    wait = state["not_before"] - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    if state["fast"]:
        previous = False
        while True:
            ready = ready_reading()
            if ready and previous:
                break
            previous = ready
            time.sleep(0.0005)
    reply = spi.xfer2(frame)
    state["not_before"] = time.monotonic() + pause_s(msg_type)
    state["ack"] = reply[1]
    return bytes(reply)


def text(frame, offset):
    return frame[offset:offset + 16].split(b"\0")[0].decode("latin-1")


def get_info(first_length):
    exchange(M_REQ_INFO, first_length)
    frame = exchange(M_NULL, 88)
    sys.stderr.write("Product:%s\nRev:    %s\nSNR:    %s\nSW:%s(%s)\n" % (
        text(frame, 24), text(frame, 40), text(frame, 8), text(frame, 56), text(frame, 72)))
    digits = text(frame, 72)
    state["fast"] = digits.isdigit() and int(digits) > 994


print("Tx prepare for software update via usb.")
get_info(88)
time.sleep(0.25)
print("Action confirmed by user")
exchange(M_BOOT_LOAD_MODE, 8)
get_info(8)
time.sleep(0.25)
os.close(gpio)
spi.close()
