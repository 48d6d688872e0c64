// Loaded into KWin by the Corvimus agent: tells the agent which window is active, so that the mouse
// settings follow the front application. Every value travels as a string: numbers from a script
// may reach the bus as doubles.
function corvimusReport(client) {
    var pid = "", resourceClass = "", resourceName = "", desktopFileName = "";
    if (client) {
        pid = String(client.pid ? client.pid : 0);
        resourceClass = String(client.resourceClass ? client.resourceClass : "");
        resourceName = String(client.resourceName ? client.resourceName : "");
        desktopFileName = String(client.desktopFileName ? client.desktopFileName : "");
    }
    callDBus("com.kelvane.mouse.Helper", "/com/kelvane/mouse/FrontWindow",
             "com.kelvane.mouse.FrontWindow", "WindowActivated",
             pid, resourceClass, resourceName, desktopFileName);
}

workspace.clientActivated.connect(corvimusReport);
corvimusReport(workspace.activeClient);
