// What kvx-host reads in a settings file's text before the plug-in does: whether it is a
// settings file at all (so that --settings rec.ts --save cannot turn a recording into one),
// and, for --show-settings, what in a hand-edited file the plug-in reads otherwise than it
// looks: sections and keys it does not know (names are case-sensitive), values it reads as
// another number or as the default, values the settings dialog cannot show. The plug-in's
// reading stays as it is; these only say so.
#pragma once
#include <string>
#include <vector>

#include "settings/channel_profile.h"

namespace kvx {

// Why `bytes`, a whole file, is no settings file ("it holds NUL bytes", "it starts like a
// PNG picture", ...), in words that follow "FILE is not a settings file: "; "" when it may
// be one. An empty file (or one of blanks alone) is one: it holds no settings to lose.
std::string WhyNotSettingsText(const std::string& bytes);

// One line for each thing the plug-in reads otherwise than the text looks, in file order
// (at most kMaxSettingsWarnings, then one line saying how many more). `loaded` are the
// channel records the plug-in made of the text, which says which channel sections it read.
std::vector<std::string> SettingsTextWarnings(const std::string& bytes, const std::vector<ChannelKey>& loaded);

constexpr size_t kMaxSettingsWarnings = 20;

}  // namespace kvx
