
export default class PelluxExtension extends Extension {
    enable() {
        this._service = new PelluxWindowsService();
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
