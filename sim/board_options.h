// txsim's options for the board's state behind the status, fault, mode and
// read-out commands: status record fields, channel readings, failing
// acknowledgements and the length of a mode change. Each parser takes the
// option's value and returns false, leaving the board as it was, when the
// value is not understood.
#pragma once

#include <string_view>

#include "tx_board_model.h"

namespace sim {

// "FIELD=VALUE[,FIELD=VALUE...]": fields of the M_STATUS record by the names
// of the status dump (cg_current, vg_voltage, ad_value0 to ad_value3,
// temperature0 to temperature2, estimated_load, update_count, ad_raw0 to
// ad_raw3, cg_current_da, vg_voltage_da, is_on, switch_state, cg_range,
// vg_range). Floats take any strtof text, "nan" included.
bool ParseStatusFields(std::string_view text, BoardConfig& board);
// "N=VALUE/RAW": the reading of channel N (1 to 19); RAW may be negative.
bool ParseChannel(std::string_view text, BoardConfig& board);
// "TYPE[:COUNT]": the acknowledgement of TYPE (a name such as M_STANDBY or a
// number) fails COUNT times, or every time without a count.
bool ParseFailAck(std::string_view text, BoardConfig& board);
// "N": a mode change takes N exchanges.
bool ParseModeChange(std::string_view text, BoardConfig& board);

}  // namespace sim
