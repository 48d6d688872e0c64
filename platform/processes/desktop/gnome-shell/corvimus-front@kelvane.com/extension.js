/* Corvimus front window: publishes the focus window on the session bus, so that the Corvimus agent
 * can give the mice the settings of the application in front. GetFocus answers the focus window's
 * pid, WM class, GTK application id and sandboxed application id (a pid of 0 and empty strings
 * when no window has the focus); FocusChanged carries the same values whenever the focus moves. */
const { Gio, GLib } = imports.gi;

const BUS_NAME = 'com.kelvane.mouse.FrontWindow';
const OBJECT_PATH = '/com/kelvane/mouse/FrontWindow';
const INTERFACE = `
<node>
  <interface name="com.kelvane.mouse.FrontWindow">
    <method name="GetFocus">
      <arg type="i" direction="out" name="pid"/>
      <arg type="s" direction="out" name="wmClass"/>
      <arg type="s" direction="out" name="gtkApplicationId"/>
      <arg type="s" direction="out" name="sandboxedAppId"/>
    </method>
    <signal name="FocusChanged">
      <arg type="i" name="pid"/>
      <arg type="s" name="wmClass"/>
      <arg type="s" name="gtkApplicationId"/>
      <arg type="s" name="sandboxedAppId"/>
    </signal>
  </interface>
</node>`;

function text(value) {
    return value ? String(value) : '';
}

class FrontWindow {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.REPLACE, null, null);
        this._focusId = global.display.connect('notify::focus-window', () => this._changed());
    }

    disable() {
        if (this._focusId) global.display.disconnect(this._focusId);
        if (this._nameId) Gio.bus_unown_name(this._nameId);
        if (this._object) this._object.unexport();
        this._focusId = 0;
        this._nameId = 0;
        this._object = null;
    }

    GetFocus() {
        const w = global.display.focus_window;
        if (!w) return [0, '', '', ''];
        return [w.get_pid() > 0 ? w.get_pid() : 0, text(w.get_wm_class()),
            text(w.get_gtk_application_id()), text(w.get_sandboxed_app_id())];
    }

    _changed() {
        if (this._object)
            this._object.emit_signal('FocusChanged', new GLib.Variant('(isss)', this.GetFocus()));
    }
}

function init() {
    return new FrontWindow();
}
