#include "dialog_export.h"

#include <array>
#include <string_view>

namespace dialog_template {
namespace {

struct StyleName {
  std::uint32_t value;
  std::string_view name;
};

// Flag bits by name, in the order the script lists them. WS_CAPTION comes
// before its two parts so that a caption is written as one name.
constexpr std::array<StyleName, 12> FlagNames{{
    {WsPopup, "WS_POPUP"},
    {WsChild, "WS_CHILD"},
    {WsVisible, "WS_VISIBLE"},
    {WsCaption, "WS_CAPTION"},
    {WsBorder, "WS_BORDER"},
    {WsDlgFrame, "WS_DLGFRAME"},
    {WsVScroll, "WS_VSCROLL"},
    {WsSysMenu, "WS_SYSMENU"},
    {WsGroup, "WS_GROUP"},
    {WsTabStop, "WS_TABSTOP"},
    {DsModalFrame, "DS_MODALFRAME"},
    {DsSetFont, "DS_SETFONT"},
}};

struct KindName {
  ControlClass cls;
  std::uint32_t kind;
  std::string_view name;
};

// The kind values held in each class's low style bits.
constexpr std::array<KindName, 7> KindNames{{
    {ControlClass::Button, BsPushButton, "BS_PUSHBUTTON"},
    {ControlClass::Button, BsDefPushButton, "BS_DEFPUSHBUTTON"},
    {ControlClass::Button, BsAutoCheckBox, "BS_AUTOCHECKBOX"},
    {ControlClass::Button, BsGroupBox, "BS_GROUPBOX"},
    {ControlClass::Static, SsLeft, "SS_LEFT"},
    {ControlClass::Static, SsCenter, "SS_CENTER"},
    {ControlClass::ComboBox, CbsDropDownList, "CBS_DROPDOWNLIST"},
}};

std::string Hex(std::uint32_t value, int digits = 8) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += Digits[(value >> shift) & 0xF];
  return text;
}

// Text for XML element content and attribute values.
std::string XmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A string literal for the resource script: quotes are doubled.
std::string RcQuoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string_view GtkClass(const DialogControl& control) {
  switch (control.cls) {
    case ControlClass::Static: return "GtkLabel";
    case ControlClass::ComboBox: return "GtkComboBoxText";
    case ControlClass::Button:
      switch (ControlKind(control)) {
        case BsAutoCheckBox: return "GtkCheckButton";
        case BsGroupBox: return "GtkFrame";
        default: return "GtkButton";
      }
  }
  return "GtkButton";
}

// Groups the lines of one GtkBuilder object.
struct UiWriter {
  std::string text;
  void Line(int depth, std::string_view line) {
    text.append(static_cast<std::size_t>(depth) * 2, ' ');
    text += line;
    text += '\n';
  }
  void Text(int depth, std::string_view name, std::string_view value) {
    Line(depth, "<property name=\"" + std::string(name) + "\">" + XmlEscaped(value) + "</property>");
  }
  void Number(int depth, std::string_view name, int value) { Text(depth, name, std::to_string(value)); }
  void Flag(int depth, std::string_view name, bool value) { Text(depth, name, value ? "True" : "False"); }
};

void WriteControl(UiWriter& ui, const DialogControl& control) {
  const int heightUnits = control.cls == ControlClass::ComboBox ? ClosedComboHeightUnits : control.height;
  const bool tabStop = (control.style & WsTabStop) != 0;
  const std::uint32_t kind = ControlKind(control);

  ui.Line(4, "<child>");
  ui.Line(5, "<!-- id " + std::to_string(control.id) + ", " + std::string(ClassInfo(control.cls).windowsName) +
                 ", " + std::to_string(control.x) + "," + std::to_string(control.y) + " " +
                 std::to_string(control.width) + "x" + std::to_string(control.height) + " dialog units -->");
  ui.Line(5, "<object class=\"" + std::string(GtkClass(control)) + "\" id=\"" + std::string(control.name) + "\">");
  ui.Flag(6, "visible", true);
  // A GtkComboBox takes the focus through the button inside it; focusable
  // itself, it would hand the focus back to that button on every Tab.
  if (control.cls != ControlClass::ComboBox) ui.Flag(6, "can-focus", tabStop);
  ui.Number(6, "width-request", UnitsToPixelsX(control.width));
  ui.Number(6, "height-request", UnitsToPixelsY(heightUnits));
  switch (control.cls) {
    case ControlClass::Static:
      ui.Text(6, "label", control.text);
      ui.Text(6, "xalign", kind == SsCenter ? "0.5" : "0");
      ui.Text(6, "justify", kind == SsCenter ? "center" : "left");
      break;
    case ControlClass::ComboBox:
      break;
    case ControlClass::Button:
      if (kind == BsGroupBox) {
        ui.Text(6, "label", control.text);
        ui.Text(6, "label-xalign", "0.04");
        ui.Text(6, "shadow-type", "etched-in");
      } else {
        ui.Text(6, "label", control.text);
        ui.Flag(6, "focus-on-click", true);
        // A push button takes Enter while it has the focus; a check box
        // passes Enter on to the default button.
        ui.Flag(6, "receives-default", kind != BsAutoCheckBox);
        if (kind == BsDefPushButton) {
          ui.Flag(6, "can-default", true);
          ui.Flag(6, "has-default", true);
        }
      }
      break;
  }
  ui.Line(5, "</object>");
  ui.Line(5, "<packing>");
  ui.Number(6, "x", UnitsToPixelsX(control.x));
  ui.Number(6, "y", UnitsToPixelsY(control.y));
  ui.Line(5, "</packing>");
  ui.Line(4, "</child>");
}

// One control of the HTML form: absolutely placed in pixels, its control id
// in data-control-id (the page sends it to the dialog procedure), its tab
// stop as a tabindex in template order, the default push button marked.
std::string HtmlControl(const DialogControl& control, int tabIndex) {
  const int heightUnits = control.cls == ControlClass::ComboBox ? ClosedComboHeightUnits : control.height;
  const std::string box = "left: " + std::to_string(UnitsToPixelsX(control.x)) + "px; top: " +
                          std::to_string(UnitsToPixelsY(control.y)) + "px; width: " +
                          std::to_string(UnitsToPixelsX(control.width)) + "px; height: " +
                          std::to_string(UnitsToPixelsY(heightUnits)) + "px";
  const std::string name = XmlEscaped(control.name);
  const std::string text = XmlEscaped(control.text);
  const std::string id = control.id == IdStatic ? "" : " data-control-id=\"" + std::to_string(control.id) + "\"";
  const std::string tab = tabIndex > 0 ? " tabindex=\"" + std::to_string(tabIndex) + "\"" : "";
  const std::uint32_t kind = ControlKind(control);
  switch (control.cls) {
    case ControlClass::Static:
      return "<span class=\"static " + std::string(kind == SsCenter ? "center" : "left") + "\" id=\"" + name +
             "\" style=\"" + box + "\">" + text + "</span>";
    case ControlClass::ComboBox:
      return "<select class=\"list\" id=\"" + name + "\"" + id + tab + " style=\"" + box + "\"></select>";
    case ControlClass::Button:
      switch (kind) {
        case BsGroupBox:
          return "<fieldset class=\"group\" id=\"" + name + "\" style=\"" + box + "\"><legend>" + text +
                 "</legend></fieldset>";
        case BsAutoCheckBox:
          return "<label class=\"check\" style=\"" + box + "\"><input type=\"checkbox\" id=\"" + name + "\"" +
                 id + tab + ">" + text + "</label>";
        default:
          return "<button type=\"button\" class=\"" + std::string(kind == BsDefPushButton ? "push default" : "push") +
                 "\" id=\"" + name + "\"" + id + tab + " style=\"" + box + "\">" + text + "</button>";
      }
  }
  return {};
}

}  // namespace

std::string StyleExpression(std::optional<ControlClass> cls, std::uint32_t style) {
  std::string text;
  auto add = [&text](std::string_view name) {
    if (!text.empty()) text += " | ";
    text += name;
  };
  std::uint32_t rest = style;
  if (cls) {
    const std::uint32_t kind = style & ClassInfo(*cls).typeMask;
    for (const KindName& entry : KindNames) {
      if (entry.cls == *cls && entry.kind == kind) {
        add(entry.name);
        rest &= ~ClassInfo(*cls).typeMask;
        break;
      }
    }
  }
  for (const StyleName& flag : FlagNames) {
    if ((rest & flag.value) == flag.value) {
      add(flag.name);
      rest &= ~flag.value;
    }
  }
  if (rest != 0 || text.empty()) add(Hex(rest));
  return text;
}

std::string ConfigDialogUi() {
  const DialogTemplate& dialog = ConfigDialog;
  const int width = UnitsToPixelsX(dialog.width);
  const int height = UnitsToPixelsY(dialog.height);

  UiWriter ui;
  ui.Line(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  ui.Line(0, "<!-- Generated from config_dialog_template.h by quenrik-dialog-export: do not edit. -->");
  ui.Line(0, "<!-- Dialog units to pixels: x * " + std::to_string(DialogBaseX) + " / 4, y * " +
                 std::to_string(DialogBaseY) + " / 8 (" + std::string(dialog.fontName) + " " +
                 std::to_string(dialog.fontPoints) + " pt). -->");
  ui.Line(0, "<interface>");
  ui.Line(1, "<requires lib=\"gtk+\" version=\"3.20\"/>");
  ui.Line(1, "<object class=\"GtkWindow\" id=\"dialog\">");
  ui.Text(2, "title", dialog.caption);
  ui.Flag(2, "resizable", false);
  ui.Flag(2, "modal", true);
  ui.Text(2, "type-hint", "dialog");
  ui.Number(2, "default-width", width);
  ui.Number(2, "default-height", height);
  ui.Line(2, "<style>");
  ui.Line(3, "<class name=\"quenrik-dialog\"/>");
  ui.Line(2, "</style>");
  ui.Line(2, "<child>");
  ui.Line(3, "<object class=\"GtkFixed\" id=\"layout\">");
  ui.Flag(4, "visible", true);
  ui.Number(4, "width-request", width);
  ui.Number(4, "height-request", height);
  for (const DialogControl& control : dialog.controls) WriteControl(ui, control);
  ui.Line(3, "</object>");
  ui.Line(2, "</child>");
  ui.Line(1, "</object>");
  ui.Line(0, "</interface>");
  return ui.text;
}

std::string ConfigDialogRc() {
  const DialogTemplate& dialog = ConfigDialog;
  auto number = [](int value) { return std::to_string(value); };
  std::string rc;
  rc += "// Generated from config_dialog_template.h by quenrik-dialog-export: do not edit.\n";
  rc += "#include <windows.h>\n\n";
  // A language id holds the primary language in its low 10 bits, the sublanguage above.
  rc += "LANGUAGE " + Hex(static_cast<std::uint32_t>(dialog.language & 0x3FF), 2) + ", " +
        Hex(static_cast<std::uint32_t>(dialog.language >> 10), 2) + "\n";
  rc += number(dialog.resourceId) + " DIALOG " + number(dialog.x) + ", " + number(dialog.y) + ", " +
        number(dialog.width) + ", " + number(dialog.height) + "\n";
  rc += "STYLE " + StyleExpression(std::nullopt, dialog.style) + "\n";
  if (dialog.exStyle != 0) rc += "EXSTYLE " + Hex(dialog.exStyle) + "\n";
  rc += "CAPTION " + RcQuoted(dialog.caption) + "\n";
  rc += "FONT " + number(dialog.fontPoints) + ", " + RcQuoted(dialog.fontName) + "\n";
  // Classes go by their predefined atoms, as a compiled template holds them.
  rc += "// Control classes:";
  for (const ControlClassInfo& info : ControlClasses) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely on " " + std::string.
    rc += ' ';
    rc += Hex(info.atom, 4);
    rc += ' ';
    rc += info.windowsName;
  }
  rc += "\nBEGIN\n";
  for (const DialogControl& control : dialog.controls) {
    rc += "    CONTROL " + RcQuoted(control.text) + ", " + number(control.id) + ", " +
          Hex(ClassInfo(control.cls).atom, 4) + ", " + StyleExpression(control.cls, control.style) + ", " +
          number(control.x) + ", " + number(control.y) + ", " + number(control.width) + ", " +
          number(control.height) + "\n";
  }
  rc += "END\n";
  return rc;
}

std::string ConfigDialogHtml() {
  const DialogTemplate& dialog = ConfigDialog;
  std::string html;
  html += "<!-- Generated from config_dialog_template.h by quenrik-dialog-export: do not edit. -->\n";
  html += "<!-- Dialog units to pixels: x * " + std::to_string(DialogBaseX) + " / 4, y * " +
          std::to_string(DialogBaseY) + " / 8 (" + std::string(dialog.fontName) + " " +
          std::to_string(dialog.fontPoints) + " pt). -->\n";
  html += "<div class=\"quenrik-dialog\" id=\"dialog\" role=\"dialog\" aria-labelledby=\"dialog-caption\" style=\"left: " +
          std::to_string(UnitsToPixelsX(dialog.x)) + "px; top: " + std::to_string(UnitsToPixelsY(dialog.y)) + "px\">\n";
  html += "  <div class=\"caption\"><span id=\"dialog-caption\">" + XmlEscaped(dialog.caption) +
          "</span><button type=\"button\" class=\"close\" id=\"dialog-close\" tabindex=\"-1\" "
          "aria-label=\"Close\">&#x2715;</button></div>\n";
  html += "  <div class=\"client\" style=\"width: " + std::to_string(UnitsToPixelsX(dialog.width)) +
          "px; height: " + std::to_string(UnitsToPixelsY(dialog.height)) + "px\">\n";
  int tabIndex = 0;
  for (const DialogControl& control : dialog.controls) {
    html += "    " + HtmlControl(control, (control.style & WsTabStop) ? ++tabIndex : 0) + "\n";
  }
  html += "  </div>\n</div>\n";
  return html;
}

}  // namespace dialog_template
