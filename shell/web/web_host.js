// The page's side of the browser host (web_host.cpp): the dialog form, the
// canvas as the show's window, the loading screen's frame, and the error box.
// The page's own script (page.js) keeps the page state in Module.page.
// Emscripten's optimizer reads this file: ES2015 only (no async functions,
// no destructuring, which its minifier garbles).
mergeInto(LibraryManager.library, {
  $QuenrikHost: {
    dialogEnd: null,   // resolves when the dialog has ended
    endDialog: null,
    quit: false,
    listeners: [],     // [element, event, handler] while the dialog is open

    element: function(id) { return document.getElementById(id); },
    control: function(id) { return document.querySelector('[data-control-id="' + id + '"]'); },
    listen: function(element, event, handler) {
      element.addEventListener(event, handler);
      QuenrikHost.listeners.push([element, event, handler]);
    },
  },

  // Shows the form and turns its clicks into the procedure's commands. As
  // the system's dialog manager does: Tab and Shift+Tab go round the tab
  // stops in template order, Enter is "Go!" unless a push button has the
  // focus (that button takes it), Escape does nothing.
  quenrik_dialog_open__deps: ['$QuenrikHost'],
  quenrik_dialog_open: function() {
    const host = QuenrikHost;
    host.quit = false;
    host.dialogEnd = new Promise(resolve => host.endDialog = resolve);
    const dialog = host.element('dialog');
    // Buttons and check boxes send their id when clicked (a drop-down list
    // sends nothing that the procedure acts on); all start empty.
    dialog.querySelectorAll('[data-control-id]').forEach(control => {
      if (control.tagName === 'SELECT') {
        control.options.length = 0;
        return;
      }
      if (control.type === 'checkbox') control.checked = false;
      const id = Number(control.dataset.controlId);
      host.listen(control, 'click', () => Module['_WebDialogCommand'](id));
    });
    host.listen(host.element('dialog-close'), 'click', () => Module['_WebDialogClose']());
    host.listen(document, 'keydown', event => {
      if (event.key === 'Escape') event.preventDefault();
      if (event.key === 'Tab') {
        event.preventDefault();
        const stops = Array.prototype.filter.call(dialog.querySelectorAll('[tabindex]'), e => e.tabIndex > 0)
                          .sort((a, b) => a.tabIndex - b.tabIndex);
        const at = stops.indexOf(document.activeElement);
        const next = event.shiftKey ? (at <= 0 ? stops.length - 1 : at - 1) : (at + 1) % stops.length;
        stops[next].focus();
        return;
      }
      if (event.key !== 'Enter') return;
      const focus = document.activeElement;
      if (focus && focus.tagName === 'BUTTON' && dialog.contains(focus)) return;
      event.preventDefault();
      dialog.querySelector('button.default').click();
    });
    Module['page'].setState('dialog');
  },

  quenrik_dialog_set_check__deps: ['$QuenrikHost'],
  quenrik_dialog_set_check: function(id, checked) {
    const box = QuenrikHost.control(id);
    if (box && box.type === 'checkbox') box.checked = !!checked;
  },

  quenrik_dialog_add_string__deps: ['$QuenrikHost'],
  quenrik_dialog_add_string: function(id, text) {
    const list = QuenrikHost.control(id);
    if (list && list.tagName === 'SELECT') {
      list.add(new Option(UTF8ToString(text)));
      list.selectedIndex = -1;
    }
  },

  // The first entry after startIndex (wrapping round) that begins with the
  // prefix, ignoring case; its index, or -1 with the selection unchanged.
  quenrik_dialog_select_prefix__deps: ['$QuenrikHost'],
  quenrik_dialog_select_prefix: function(id, startIndex, prefix) {
    const list = QuenrikHost.control(id);
    if (!list || list.tagName !== 'SELECT') return -1;
    const wanted = UTF8ToString(prefix).toLowerCase();
    const count = list.options.length;
    if (startIndex < -1 || startIndex >= count) startIndex = -1;
    for (let step = 1; step <= count; ++step) {
      const index = (startIndex + step) % count;
      if (list.options[index].text.toLowerCase().startsWith(wanted)) {
        list.selectedIndex = index;
        return index;
      }
    }
    return -1;
  },

  quenrik_dialog_selection__deps: ['$QuenrikHost'],
  quenrik_dialog_selection: function(id) {
    const list = QuenrikHost.control(id);
    return list && list.tagName === 'SELECT' ? list.selectedIndex : -1;
  },

  // EndDialog (quit 0), then for "Cancel" and the close box EndProgram (quit
  // 1) at once: the form goes when the procedure has returned.
  quenrik_dialog_end__deps: ['$QuenrikHost'],
  quenrik_dialog_end: function(quit) {
    const host = QuenrikHost;
    if (quit) host.quit = true;
    if (!host.endDialog) return;
    const end = host.endDialog;
    host.endDialog = null;
    host.listeners.forEach(listener => listener[0].removeEventListener(listener[1], listener[2]));
    host.listeners = [];
    Promise.resolve().then(() => {
      Module['page'].dialogEnded(host.quit);
      end();
    });
  },

  // Until the dialog has ended and the data files are in.
  quenrik_dialog_wait__deps: ['$QuenrikHost', '$Asyncify'],
  quenrik_dialog_wait: function() {
    return Asyncify.handleAsync(() => QuenrikHost.dialogEnd.then(() => {
      if (!QuenrikHost.quit) return Module['page'].dataReady;
    }));
  },

  // The canvas at the chosen size, or the whole screen: 1, or 0 when the
  // browser refuses full screen.
  quenrik_window_open__deps: ['$Asyncify'],
  quenrik_window_open: function(width, height, fullscreen) {
    return Asyncify.handleAsync(() => Module['page'].openWindow(width, height, !!fullscreen));
  },

  quenrik_window_close: function() { Module['page'].closeWindow(); },

  // The loading screen: on the screen before start-up goes on.
  quenrik_present_and_wait__deps: ['$Asyncify'],
  quenrik_present_and_wait: function() {
    return Asyncify.handleAsync(() => Module['page'].showFrame());
  },

  quenrik_frame_presented__deps: ['$GL'],
  quenrik_frame_presented: function(clock) { Module['page'].framePresented(clock, GL.currentContext.GLctx); },

  quenrik_frame_wanted: function(clock) { return Module['page'].frameWanted(clock) ? 1 : 0; },

  quenrik_report_failure: function(text, detail, exitCode) {
    Module['page'].reportFailure(UTF8ToString(text), UTF8ToString(detail), exitCode);
  },
});
