#pragma once
// A disc title's units, read from the stretches between its entry points as they are played.
#include <memory>

#include "disc_title.h"
#include "unit_table.h"

namespace korvala {

std::unique_ptr<TitleUnits> IndexTitle(std::shared_ptr<const DiscTitle> title);

}  // namespace korvala
