#include "skins/skins.h"

#include <string>

#include "fileio/fileio.h"
#include "flow/ui.h"

namespace beam::skins {

void select(PathStore& store, const Skin& skin) {
    const std::string game_folder = store.read();
    fileio::replace_with_copy(game_folder + std::string(skin.source_suffix),
                              game_folder + std::string(kActivePackSuffix));
    ui::message_box(skin.confirmation);
}

}  // namespace beam::skins
