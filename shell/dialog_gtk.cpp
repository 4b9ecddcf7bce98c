// The configuration dialog on GTK 3: builds the window from the embedded
// GtkBuilder description (resources/config_dialog.ui, made from the control
// table), turns clicks and the close box into the Windows messages that
// ConfigDialogProc understands, and runs a modal loop until it ends the dialog.
#include "dialog_gtk.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

#include "config_dialog_proc.h"
#include "config_dialog_template.h"
#include "config_dialog_ui.h"

using namespace dialog_template;

namespace {

// The one dialog shown at a time; its address is the procedure's DialogHandle.
struct GtkDialogState {
  GtkBuilder* builder = nullptr;
  GtkWindow* window = nullptr;
  bool ended = false;       // EndDialog was called: the modal loop returns
  bool endProgram = false;  // EndProgram was called: the program ends after the dialog
  int exitCode = 0;
  int quiet = 0;  // > 0 while the procedure itself changes a control: no command for that
};
GtkDialogState Dialog;

// A look close to the classic small dialog: grey face, bevelled buttons,
// sunken white fields, an etched group frame, a plain list and an 8-point
// font. The rules apply only while the dialog is open.
constexpr char ClassicCss[] = R"css(
.quenrik-dialog { background-color: #d4d0c8; }
.quenrik-dialog * {
  font-family: "DejaVu Sans", sans-serif; font-size: 8pt; color: #000000;
  text-shadow: none; -gtk-icon-shadow: none; outline-color: #000000;
}
.quenrik-dialog button {
  min-height: 0; min-width: 0; padding: 0 2px; border-radius: 0;
  background-image: none; background-color: #d4d0c8;
  border: 1px solid; border-color: #ffffff #404040 #404040 #ffffff;
  box-shadow: inset -1px -1px #808080;
  outline-offset: -4px; outline-style: dotted; outline-width: 1px;
}
.quenrik-dialog button.default { border-color: #000000; box-shadow: inset 1px 1px #ffffff, inset -2px -2px #808080, inset -1px -1px #404040; }
.quenrik-dialog button:active, .quenrik-dialog button:checked {
  border-color: #808080; box-shadow: none; background-color: #d4d0c8;
}
.quenrik-dialog checkbutton { padding: 0; min-height: 0; }
.quenrik-dialog checkbutton check {
  min-width: 11px; min-height: 11px; margin: 0 4px 0 0; padding: 0; border-radius: 0;
  background-image: none; background-color: #ffffff;
  border: 1px solid; border-color: #808080 #ffffff #ffffff #808080;
  box-shadow: inset 1px 1px #404040, inset -1px -1px #d4d0c8;
}
.quenrik-dialog combobox button {
  padding: 0 0 0 3px; background-color: #ffffff;
  border: 1px solid; border-color: #808080 #ffffff #ffffff #808080;
  box-shadow: inset 1px 1px #404040, inset -1px -1px #d4d0c8;
}
.quenrik-dialog combobox arrow {
  min-width: 11px; min-height: 13px; padding: 1px 2px; margin: 0;
  background-color: #d4d0c8;
  border: 1px solid; border-color: #d4d0c8 #404040 #404040 #d4d0c8;
  box-shadow: inset 1px 1px #ffffff, inset -1px -1px #808080;
}
.quenrik-dialog frame > border {
  border-radius: 0; border: 1px solid; border-color: #808080 #ffffff #ffffff #808080;
  box-shadow: inset 1px 1px #ffffff, inset -1px -1px #808080;
}
.quenrik-dialog frame > label { padding: 0 2px; }
menu { background-color: #ffffff; border: 1px solid #000000; padding: 0; margin: 0; border-radius: 0; }
menu menuitem { min-height: 0; padding: 1px 3px; }
menu menuitem cellview { font-family: "DejaVu Sans", sans-serif; font-size: 8pt; color: #000000; }
menu menuitem:hover { background-color: #000080; }
menu menuitem:hover cellview { color: #ffffff; }
)css";

GtkWidget* Control(int id) {
  const DialogControl* control = FindControl(id);
  if (!control) return nullptr;
  const std::string name(control->name);
  return GTK_WIDGET(gtk_builder_get_object(Dialog.builder, name.c_str()));
}

GtkWidget* ControlByName(std::string_view name) {
  return GTK_WIDGET(gtk_builder_get_object(Dialog.builder, std::string(name).c_str()));
}

// The actions the procedure asks for, on GTK widgets.

void SetCheck(DialogHandle, int id, bool checked) {
  if (GtkWidget* widget = Control(id); widget && GTK_IS_TOGGLE_BUTTON(widget)) {
    ++Dialog.quiet;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), checked);
    --Dialog.quiet;
  }
}

void AddComboString(DialogHandle, int id, const char* text) {
  if (GtkWidget* widget = Control(id); widget && GTK_IS_COMBO_BOX_TEXT(widget)) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(widget), text);
  }
}

int SelectComboPrefix(DialogHandle, int id, int startIndex, const char* prefix) {
  GtkWidget* widget = Control(id);
  if (!widget || !GTK_IS_COMBO_BOX_TEXT(widget)) return -1;
  GtkComboBox* combo = GTK_COMBO_BOX(widget);
  GtkTreeModel* model = gtk_combo_box_get_model(combo);
  const int count = gtk_tree_model_iter_n_children(model, nullptr);
  if (startIndex < -1 || startIndex >= count) startIndex = -1;
  const int column = gtk_combo_box_get_entry_text_column(combo);
  const std::size_t prefixLength = std::char_traits<char>::length(prefix);
  for (int step = 1; step <= count; ++step) {
    const int index = (startIndex + step) % count;
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(model, &iter, nullptr, index)) continue;
    gchar* text = nullptr;
    gtk_tree_model_get(model, &iter, column, &text, -1);
    const bool match = text && g_ascii_strncasecmp(text, prefix, prefixLength) == 0;
    g_free(text);
    if (match) {
      ++Dialog.quiet;
      gtk_combo_box_set_active(combo, index);
      --Dialog.quiet;
      return index;
    }
  }
  return -1;
}

int GetComboSelection(DialogHandle, int id) {
  GtkWidget* widget = Control(id);
  return widget && GTK_IS_COMBO_BOX(widget) ? gtk_combo_box_get_active(GTK_COMBO_BOX(widget)) : -1;
}

void EndDialog(DialogHandle, std::intptr_t) { Dialog.ended = true; }

void EndProgram(int exitCode) {
  Dialog.endProgram = true;
  Dialog.exitCode = exitCode;
}

constexpr DialogActions GtkActions{SetCheck, AddComboString, SelectComboPrefix, GetComboSelection, EndDialog,
                                   EndProgram};

// Messages to the procedure. Nothing more is sent once the dialog has ended.

void Send(std::uint32_t message, std::uintptr_t wParam) {
  if (!Dialog.ended) ConfigDialogProc(&Dialog, message, wParam, 0);
}

void OnClicked(GtkButton*, gpointer id) {
  if (Dialog.quiet == 0) Send(MsgCommand, CommandParam(GPOINTER_TO_INT(id), 0));
}

void OnComboChanged(GtkComboBox*, gpointer id) {
  if (Dialog.quiet == 0) Send(MsgCommand, CommandParam(GPOINTER_TO_INT(id), NotifyComboSelChange));
}

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer) {
  Send(MsgClose, 0);
  return TRUE;  // the dialog is destroyed below, once the loop has returned
}

void ConnectControls() {
  for (const DialogControl& control : ConfigDialog.controls) {
    if (control.id == IdStatic) continue;
    GtkWidget* widget = ControlByName(control.name);
    if (GTK_IS_COMBO_BOX(widget)) {
      g_signal_connect(widget, "changed", G_CALLBACK(OnComboChanged), GINT_TO_POINTER(control.id));
    } else if (GTK_IS_BUTTON(widget)) {
      g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), GINT_TO_POINTER(control.id));
    }
  }
  g_signal_connect(Dialog.window, "delete-event", G_CALLBACK(OnDeleteEvent), nullptr);
}

// A drop-down list passes Enter on to the default button, as check boxes do;
// GTK's list is a button inside that would take it for itself.
void PassEnterOn(GtkWidget* widget, gpointer) {
  if (GTK_IS_BUTTON(widget)) gtk_widget_set_receives_default(widget, FALSE);
  if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), PassEnterOn, nullptr);
}

void LetListsPassEnterOn() {
  for (const DialogControl& control : ConfigDialog.controls) {
    if (control.cls == ControlClass::ComboBox) {
      PassEnterOn(ControlByName(control.name), nullptr);
    }
  }
}

// Tab moves through the tab stops in template order, as in the original.
void SetTabOrder() {
  GList* chain = nullptr;
  for (const DialogControl& control : ConfigDialog.controls) {
    if (control.style & WsTabStop) chain = g_list_append(chain, ControlByName(control.name));
  }
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(ControlByName("layout")), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
}

std::string NoDisplayMessage() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) {
    return "cannot show the configuration dialog: no display (DISPLAY is not set)";
  }
  return std::string("cannot show the configuration dialog: cannot open the display \"") +
         (display && *display ? display : wayland) + "\"";
}

// Lets GTK finish everything the dialog left (unmapping, destruction) so the
// next window the program opens starts from a quiet display connection.
void DrainEvents() {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  gdk_display_sync(gdk_display_get_default());
}

}  // namespace

DialogOutcome ShowGtkConfigDialog(std::string& message) {
  // GTK would otherwise switch the whole program to the user's locale
  // (decimal commas in number formatting and parsing).
  gtk_disable_setlocale();
  if (!g_get_prgname()) g_set_prgname("quenrik");  // the windows' class name
  if (!gtk_init_check(nullptr, nullptr)) {
    message = NoDisplayMessage();
    return DialogOutcome::Failed;
  }

  Dialog = GtkDialogState{};
  Dialog.builder = gtk_builder_new();
  GError* error = nullptr;
  if (!gtk_builder_add_from_string(Dialog.builder, ConfigDialogUiText, -1, &error)) {
    message = std::string("cannot build the configuration dialog: ") + (error ? error->message : "unknown error");
    if (error) g_error_free(error);
    g_object_unref(Dialog.builder);
    return DialogOutcome::Failed;
  }
  Dialog.window = GTK_WINDOW(gtk_builder_get_object(Dialog.builder, "dialog"));

  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, ClassicCss, -1, nullptr);
  GdkScreen* screen = gdk_screen_get_default();
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  ConfigDialogActions = GtkActions;
  ConnectControls();
  LetListsPassEnterOn();
  SetTabOrder();

  // The procedure fills the controls before the dialog appears.
  ConfigDialogProc(&Dialog, MsgInitDialog, 0, 0);

  // A modal frame with a system menu: title bar and close box only, no
  // minimize or maximize (window managers read these hints).
  gtk_widget_realize(GTK_WIDGET(Dialog.window));
  GdkWindow* frame = gtk_widget_get_window(GTK_WIDGET(Dialog.window));
  gdk_window_set_decorations(frame, GdkWMDecoration(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
  gdk_window_set_functions(frame, GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));

  gtk_window_move(Dialog.window, UnitsToPixelsX(ConfigDialog.x), UnitsToPixelsY(ConfigDialog.y));
  gtk_widget_show(GTK_WIDGET(Dialog.window));
  gtk_window_set_focus(Dialog.window, nullptr);  // no control has the focus at first

  while (!Dialog.ended) gtk_main_iteration();

  gtk_widget_destroy(GTK_WIDGET(Dialog.window));
  g_object_unref(Dialog.builder);
  gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(css));
  g_object_unref(css);
  DrainEvents();
  ConfigDialogActions = DialogActions{};
  const bool quit = Dialog.endProgram;
  Dialog = GtkDialogState{};
  return quit ? DialogOutcome::Quit : DialogOutcome::Go;
}
