// A stand-in for the map provider's API in tests: it draws nothing and
// records what the page asks of it.
(function () {
  var fake = window.__fakeAMap = {markers: [], removed: 0, fitViews: 0, controls: []};

  function Pixel(x, y) { this.x = x; this.y = y; }
  function LngLat(lng, lat) { this.R = lng; this.Q = lat; }

  function Map(id, options) {
    this.id = id;
    this.options = options;
    fake.map = this;
  }
  Map.prototype.remove = function (list) {
    for (var i = 0; i < list.length; i++) {
      list[i].onMap = false;
      fake.removed++;
    }
  };
  Map.prototype.setFitView = function () { fake.fitViews++; };
  Map.prototype.addControl = function (control) { fake.controls.push(control); };

  function Marker(options) {
    this.De = {position: new LngLat(options.position[0], options.position[1]), icon: options.icon,
               offset: options.offset};
    this.onMap = !!options.map;
    this.listeners = {};
    fake.markers.push(this);
  }

  window.AMap = {
    Map: Map, Marker: Marker, Pixel: Pixel,
    event: {
      addListener: function (target, name, handler) {
        (target.listeners[name] = target.listeners[name] || []).push(handler);
      }
    }
  };

  fake.onMap = function () {
    return fake.markers.filter(function (m) { return m.onMap; });
  };
  fake.click = function (i) {
    var marker = fake.onMap()[i];
    marker.listeners.click.forEach(function (handler) { handler({target: marker}); });
  };
})();
