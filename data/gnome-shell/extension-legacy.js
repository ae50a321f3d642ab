
// eslint-disable-next-line no-unused-vars
function init() {
    return new PelluxWindowsService();
}
