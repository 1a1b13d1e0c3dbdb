// A stand-in for the provider's UI-components loader in tests.
window.AMapUI = {
  loadUI: function (names, done) {
    done({LayerSwitcher: function (options) { this.options = options; this.names = names; }});
  }
};
