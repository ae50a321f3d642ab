// Runs both forms of Pellux's GNOME Shell extension, as the build made them, outside the shell:
// the shell's modules (gi://, the Extension class, `imports`) are stand-ins, and the windows are
// fakes with MetaWindow's methods. Checks that each form exports the list on the bus, lists what
// Pellux expects, and lets go of the bus when disabled.
//   node --experimental-loader ./shell-modules.mjs extension_test.mjs BUILD/gnome-shell
import assert from 'node:assert/strict';
import {readFileSync} from 'node:fs';
import {pathToFileURL} from 'node:url';

const WindowType = {NORMAL: 0, DESKTOP: 1, DOCK: 2, DIALOG: 3, MODAL_DIALOG: 4, UTILITY: 6, MENU: 8};

function fakeWindow(id, title, {type = WindowType.NORMAL, skipTaskbar = false, minimized = false,
    workspace = 0, focus = false, app = null} = {}) {
    return {
        get_id: () => id, get_title: () => title, get_window_type: () => type,
        is_skip_taskbar: () => skipTaskbar, is_override_redirect: () => false,
        get_wm_class: () => `test.${title.toLowerCase()}`, get_gtk_application_id: () => null,
        get_sandboxed_app_id: () => null, get_pid: () => 100 + Number(id % 1000n),
        get_frame_rect: () => ({x: 10, y: 20, width: 300, height: 200}),
        get_buffer_rect: () => ({x: 10, y: 46, width: 300, height: 174}),
        has_focus: () => focus, minimized, is_on_all_workspaces: () => false,
        located_on_workspace: ws => ws === workspace, app,
    };
}

// Bottom to top, as mutter keeps them.
const windows = [
    fakeWindow(3n, 'Back', {app: {is_window_backed: () => false, get_id: () => 'org.example.Back.desktop'}}),
    fakeWindow(4n, 'Panel', {type: WindowType.DOCK}),
    fakeWindow(5n, 'Hidden', {skipTaskbar: true}),
    fakeWindow(6n, 'Palette', {type: WindowType.UTILITY}),
    fakeWindow(2n ** 60n + 7n, 'Dialog', {type: WindowType.MODAL_DIALOG, minimized: true, workspace: 1}),
    fakeWindow(8n, 'Front', {focus: true, app: {is_window_backed: () => true, get_id: () => 'window:8'}}),
];

function installStandIns() {
    const bus = {exported: new Map(), owned: new Set()};
    globalThis.global = {
        display: {
            list_all_windows: () => [...windows].reverse(),
            sort_windows_by_stacking: list => [...windows].filter(w => list.includes(w)),
        },
        workspace_manager: {get_active_workspace: () => 0},
    };
    globalThis.__gi = {
        Gio: {
            DBus: {session: 'session'},
            BusNameOwnerFlags: {NONE: 0},
            DBusExportedObject: {
                wrapJSObject: (xml, object) => ({
                    export: (connection, path) => bus.exported.set(path, {xml, object}),
                    unexport: () => bus.exported.clear(),
                }),
            },
            bus_own_name_on_connection: (connection, name) => { bus.owned.add(name); return 1; },
            bus_unown_name: () => bus.owned.clear(),
        },
        Meta: {WindowType},
        Shell: {WindowTracker: {get_default: () => ({get_window_app: w => w.app})}},
    };
    return bus;
}

function checkList(form, bus) {
    assert.deepEqual([...bus.owned], ['app.pellux.Shell'], form);
    const exported = bus.exported.get('/app/pellux/Shell');
    assert.ok(exported, `${form}: nothing exported at /app/pellux/Shell`);
    assert.match(exported.xml, /<interface name="app.pellux.Shell.Windows">/);
    assert.equal(exported.object.Version, 1);
    const list = JSON.parse(exported.object.List());
    assert.equal(list.version, 1, form);
    // The fields each window's row decides; 64-bit ids are kept whole, a window-backed app has no
    // desktop entry.
    const keys = ['title', 'stacking', 'id', 'type', 'minimized', 'on_current_workspace', 'has_focus',
        'desktop_entry', 'wm_class', 'gtk_application_id'];
    assert.deepEqual(list.windows.map(w => keys.map(k => w[k])), [
        ['Front', 0, '8', 'normal', false, true, true, '', 'test.front', ''],
        ['Dialog', 1, '1152921504606846983', 'dialog', true, false, false, '', 'test.dialog', ''],
        ['Back', 2, '3', 'normal', false, true, false, 'org.example.Back.desktop', 'test.back', ''],
    ], form);
    assert.deepEqual(list.windows[2].buffer, {x: 10, y: 46, width: 300, height: 174});
}

// Each form as the shell loads it: the module form (shell 45 and later) imported as a module, the
// script form (shell 43 and 44) run with the shell's `imports`.
const folder = process.argv[2];
const forms = {
    module: {versions: v => v.includes('45') && !v.includes('44'),
        load: async (file, metadata) => new (await import(pathToFileURL(file).href)).default(metadata)},
    legacy: {versions: v => v.join() === '43,44',
        load: async (file, metadata) => new Function('imports', `${readFileSync(file, 'utf8')}\nreturn init;`)(
            {gi: globalThis.__gi})(metadata)},
};
let failed = 0;
for (const [name, form] of Object.entries(forms)) {
    try {
        const bus = installStandIns();
        const dir = `${folder}/${name}/windows@pellux.app`;
        const metadata = JSON.parse(readFileSync(`${dir}/metadata.json`));
        assert.ok(form.versions(metadata['shell-version']), `${name}: ${metadata['shell-version']}`);
        const extension = await form.load(`${dir}/extension.js`, metadata);
        extension.enable();
        checkList(name, bus);
        extension.disable();
        assert.equal(bus.exported.size + bus.owned.size, 0, `${name}: disable lets go of the bus`);
        console.log(`ok   the ${name} form lists the windows`);
    } catch (error) {
        console.log(`FAIL the ${name} form\n${error.stack}`);
        failed += 1;
    }
}
process.exitCode = failed ? 1 : 0;
