// Node loader hooks for extension_test.mjs: the shell's module names resolve to stand-ins that the
// test puts on globalThis.
export async function resolve(specifier, context, next) {
    if (specifier.startsWith('gi://')) {
        const name = specifier.slice('gi://'.length);
        return {url: `data:text/javascript,export default globalThis.__gi.${name};`, shortCircuit: true};
    }
    if (specifier === 'resource:///org/gnome/shell/extensions/extension.js') {
        return {url: 'data:text/javascript,export class Extension { constructor(metadata) { this.metadata = metadata; } }',
            shortCircuit: true};
    }
    return next(specifier, context);
}

