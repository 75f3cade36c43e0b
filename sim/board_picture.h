// A picture of a board as the driver saw it, as plain SVG: the sockets and
// their root-port groups, each riser position with its card and slots, the
// mezzanine slots, the onboard devices, and the earlier records replaced.
#pragma once

#include <string>

#include "sim/board.h"
#include "sim/simulated_board.h"

namespace sim {

std::string BoardPictureSvg(const Board &board, const BoardRun &run);

}  // namespace sim
