// The window list Pellux reads on GNOME, where no other client may see the windows of the session.
// It is exported on the session bus as app.pellux.Shell, object /app/pellux/Shell, with one method
// that answers the windows as JSON. The build joins this file with prelude-*.js before it and
// extension-*.js after it, into the extension.js of the shell's extension format.

const PelluxBusName = 'app.pellux.Shell';
const PelluxObjectPath = '/app/pellux/Shell';
// Raised when a field changes meaning; Pellux refuses answers of a version it does not know.
const PelluxListVersion = 1;

const PelluxInterface = `
<node>
  <interface name="app.pellux.Shell.Windows">
    <method name="List">
      <arg type="s" direction="out" name="windows"/>
    </method>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

function pelluxRect(rect) {
    return {x: rect.x, y: rect.y, width: rect.width, height: rect.height};
}

// Only application windows: dialogs count, panels, menus, tooltips and the like never do.
function pelluxIsListed(window) {
    const type = window.get_window_type();
    const kind = type === Meta.WindowType.NORMAL ? 'normal'
        : type === Meta.WindowType.DIALOG || type === Meta.WindowType.MODAL_DIALOG ? 'dialog' : null;
    if (kind === null || window.is_skip_taskbar() || window.is_override_redirect())
        return null;
    return kind;
}

function pelluxDesktopEntry(tracker, window) {
    const app = tracker ? tracker.get_window_app(window) : null;
    if (!app || app.is_window_backed())
        return null;
    return app.get_id();
}

class PelluxWindowsService {
    constructor() {
        this._exported = null;
        this._nameId = 0;
    }

    enable() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(PelluxInterface, this);
        this._exported.export(Gio.DBus.session, PelluxObjectPath);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, PelluxBusName,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        if (this._nameId) {
            Gio.bus_unown_name(this._nameId);
            this._nameId = 0;
        }
        if (this._exported) {
            this._exported.unexport();
            this._exported = null;
        }
    }

    get Version() {
        return PelluxListVersion;
    }

    List() {
        const display = global.display;
        const activeWorkspace = global.workspace_manager.get_active_workspace();
        const tracker = Shell.WindowTracker.get_default();
        // Bottom to top, as mutter sorts them: reversed, the first is the frontmost.
        const windows = display.sort_windows_by_stacking(display.list_all_windows()).reverse();
        const listed = [];
        for (const window of windows) {
            const kind = pelluxIsListed(window);
            if (kind === null)
                continue;
            listed.push({
                // 64-bit: a string, since JSON numbers lose digits past 2^53.
                id: String(window.get_id()),
                stacking: listed.length,
                type: kind,
                title: window.get_title() ?? '',
                wm_class: window.get_wm_class() ?? '',
                gtk_application_id: window.get_gtk_application_id() ?? '',
                sandboxed_app_id: window.get_sandboxed_app_id() ?? '',
                desktop_entry: pelluxDesktopEntry(tracker, window) ?? '',
                pid: window.get_pid(),
                frame: pelluxRect(window.get_frame_rect()),
                buffer: pelluxRect(window.get_buffer_rect()),
                has_focus: window.has_focus(),
                minimized: window.minimized,
                on_current_workspace: window.is_on_all_workspaces() || window.located_on_workspace(activeWorkspace),
            });
        }
        return JSON.stringify({version: PelluxListVersion, windows: listed});
    }
}
