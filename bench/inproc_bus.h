// An in-process stand-in for the spidev and GPIO drivers, for benchmarks that
// want the link's own cost without the emulation's socket.
//
// Programs linked with -Wl,--wrap=open,--wrap=open64,--wrap=ioctl,--wrap=close
// get their calls to those functions here. Until Enable() is called every call
// goes straight to the C library; afterwards opening /dev/spidev0.1 or
// /dev/fpga_config.0 yields a descriptor whose ioctls are answered by the board
// model (spidev) and by a ready line that always reads ready (GPIO), on the
// calling thread.
//
// EnableFpga() serves the FPGA's nodes instead: /dev/fpga_config.0 by the
// configuration node's model (handshake requests, and the bitstream through
// write, for programs also linked with --wrap=write) and /dev/spidev1.0 by the
// register file's model.
#pragma once

#include "fpga_reg_model.h"
#include "gpio_model.h"
#include "tx_board_model.h"

namespace inproc {

// Serves the two nodes with a board built from `config` from now on. With
// `systemCalls`, each request answered here also makes one (failing) ioctl
// system call on a stand-in descriptor, so that a trace counts the device's
// requests as the real driver would see them.
void Enable(const sim::BoardConfig& config, bool systemCalls = false);
sim::TxBoardModel& Board();
// Serves the configuration node and the register node with fresh models; with
// `keyHeld`, a key of the matrix is held (output line 1, input line 3).
void EnableFpga(bool keyHeld);
sim::GpioDeviceModel& ConfigNode();
sim::FpgaRegisterModel& RegisterNode();
// True while a call is being answered here: allocation counters of the
// benchmarks leave out what the models allocate.
extern thread_local bool answering;

}  // namespace inproc
