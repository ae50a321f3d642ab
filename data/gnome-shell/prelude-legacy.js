// GNOME Shell 43 and 44: a script with init(), loaded through imports.
const {Gio, Meta, Shell} = imports.gi;

