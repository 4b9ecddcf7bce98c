// Writes the configuration dialog's template out in the forms the toolkits
// read: a GtkBuilder description for GTK 3, a DIALOG resource script for
// Windows and an HTML form for the browser. Both files are checked in under resources/ and tested against
// these functions, so the table stays the single source.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config_dialog_template.h"

namespace dialog_template {

// The GtkBuilder (.ui) text: a GtkWindow holding a GtkFixed with every control
// at its template position converted to pixels.
std::string ConfigDialogUi();

// The resource script (.rc) text of DIALOG 108 for windres or rc.
std::string ConfigDialogRc();

// The HTML form for the browser's page: the dialog's frame with its caption
// and close box, and every control at its template position in pixels, in
// template (tab) order.
std::string ConfigDialogHtml();

// A style as the resource script writes it, e.g.
// "BS_DEFPUSHBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP". With no class the
// style is read as the dialog's own. Bits without a name are written in hex.
std::string StyleExpression(std::optional<ControlClass> cls, std::uint32_t style);

}  // namespace dialog_template
