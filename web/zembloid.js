// The page's glue around the WebAssembly core (web/Page_web.cpp): it sizes the
// canvas in device pixels, copies the frames the core expands into one image
// each, draws one of them per tick from requestAnimationFrame's timestamps,
// and enters and leaves full screen. Nothing is allocated per tick.
'use strict';
(function () {
  const WASM_BASE64 = '@WASM_BASE64@';
  const HINT_MS = 4000;
  const canvas = document.getElementById('picture');
  const context = canvas.getContext('2d', { alpha: false });
  const hint = document.getElementById('hint');
  let core = null;
  let periodMs = 150;
  let images = [];          // each frame's part that shows, at the current layout
  let imageX = 0, imageY = 0;
  let frame = 0;
  let lastTick = -1;
  let laidOut = { width: 0, height: 0, ratio: 0 };
  let observed = null;      // the device-pixel size ResizeObserver reported last
  let ratioQuery = null;
  let pressEnded = false;
  let hintTimer = 0;

  // An integer query value, or 0 (which the core reads as absent) when the
  // value is missing or not an integer.
  function queryInteger(name) {
    const text = new URLSearchParams(location.search).get(name);
    if (text === null || !/^[+-]?\d+$/.test(text)) return 0;
    return Math.max(-2147483648, Math.min(2147483647, Number(text)));
  }

  // The canvas's size in device pixels. ResizeObserver's device-pixel box is
  // what the canvas really covers after the browser snaps it to pixels, but
  // under some emulated pixel ratios it reports CSS pixels; it is taken only
  // when it agrees with CSS size x ratio.
  function deviceSize(ratio) {
    const box = canvas.getBoundingClientRect();
    const width = box.width * ratio, height = box.height * ratio;
    if (observed && Math.abs(observed.width - width) <= 1 && Math.abs(observed.height - height) <= 1)
      return observed;
    return { width: Math.round(width), height: Math.round(height) };
  }

  function draw() {
    const image = images[frame];
    if (image) context.putImageData(image, imageX, imageY);
  }

  // Copies the part of each frame that shows out of the core's expanded frame.
  function prepareImages(layout) {
    const [, x, y, width, height, sourceX, sourceY, stride] =
      new Int32Array(core.memory.buffer, layout, 8);
    imageX = x;
    imageY = y;
    if (width <= 0 || height <= 0) return;
    const prepared = [];
    for (let index = 0; index < core.PageFrameCount(); ++index) {
      const from = core.PageExpand(index);
      if (!from) return;
      // Taken after the call: memory that grows leaves older views empty.
      const pixels = new Uint32Array(core.memory.buffer, from);
      const image = context.createImageData(width, height);
      const target = new Uint32Array(image.data.buffer);
      for (let row = 0; row < height; ++row) {
        const start = (sourceY + row) * stride + sourceX;
        target.set(pixels.subarray(start, start + width), row * width);
      }
      prepared.push(image);
    }
    images = prepared;
  }

  // Lays the frame out again when the canvas's device-pixel size or the
  // pixel ratio has changed: a resize, another monitor, zooming.
  function layOut() {
    if (!core) return;
    const ratio = window.devicePixelRatio || 1;
    const size = deviceSize(ratio);
    if (size.width === laidOut.width && size.height === laidOut.height && ratio === laidOut.ratio)
      return;
    laidOut = { width: size.width, height: size.height, ratio: ratio };
    canvas.width = size.width;
    canvas.height = size.height;
    context.fillStyle = '#000';
    context.fillRect(0, 0, size.width, size.height);
    images = [];
    if (size.width > 0 && size.height > 0) {
      const layout = core.PageLayOut(size.width, size.height, Math.round(96 * ratio));
      if (layout) prepareImages(layout);
    }
    draw();
    watchRatio(ratio);
  }

  // A change of the pixel ratio alone need not resize anything in CSS pixels.
  function watchRatio(ratio) {
    if (ratioQuery && ratioQuery.ratio === ratio) return;
    if (ratioQuery) ratioQuery.list.removeEventListener('change', layOut);
    const list = matchMedia('(resolution: ' + ratio + 'dppx)');
    list.addEventListener('change', layOut);
    ratioQuery = { list: list, ratio: ratio };
  }

  // The ticks due since the last one, counted on the animation frames'
  // timestamps: an animation frame that comes late shows the frame the pace
  // has reached. A hidden page gets no animation frames and costs nothing.
  function tick(now) {
    requestAnimationFrame(tick);
    // Not every browser tells of a new ratio alone (an emulated one, for one).
    if (window.devicePixelRatio !== laidOut.ratio) layOut();
    if (lastTick < 0) lastTick = now;
    const due = Math.floor((now - lastTick) / periodMs);
    if (due <= 0) return;
    lastTick += due * periodMs;
    frame = core.PageAdvance(due);
    draw();
  }

  function inFullScreen() {
    return document.fullscreenElement != null;
  }

  function enterFullScreen() {
    const root = document.documentElement;
    if (root.requestFullscreen) root.requestFullscreen().catch(function () {});
  }

  function leaveFullScreen() {
    document.exitFullscreen().catch(function () {});
  }

  function showHint() {
    hint.hidden = false;
    clearTimeout(hintTimer);
    hintTimer = setTimeout(function () { hint.hidden = true; }, HINT_MS);
  }

  // A modifier alone or a shortcut (Alt+Tab, Ctrl+L) is meant for the system
  // or the browser, not for the page.
  function keyForPage(event) {
    return !event.repeat && !event.ctrlKey && !event.altKey && !event.metaKey &&
      !/^(Shift|Control|Alt|AltGraph|Meta|OS)$/.test(event.key);
  }

  // A key or a click enters full screen; in full screen any key, a button or
  // pointer travel leaves it, as the savers end, and the page plays on in its
  // window. Keys go on to the browser as they came.
  window.addEventListener('keydown', function (event) {
    if (inFullScreen()) leaveFullScreen();
    else if (keyForPage(event)) enterFullScreen();
  });
  // The click that follows a press that ended full screen does not enter it again.
  window.addEventListener('pointerdown', function () {
    pressEnded = inFullScreen();
    if (pressEnded) leaveFullScreen();
  });
  window.addEventListener('click', function () {
    if (!pressEnded) enterFullScreen();
  });
  window.addEventListener('pointermove', function (event) {
    if (!inFullScreen()) showHint();
    else if (core && core.PagePointerWakes(Math.round(event.clientX), Math.round(event.clientY)))
      leaveFullScreen();
  });
  // Leaving by the browser's own way (Escape) ends it just the same.
  document.addEventListener('fullscreenchange', function () {
    if (!inFullScreen()) return;
    hint.hidden = true;
    if (core) core.PageWatchPointer();
  });

  window.addEventListener('resize', layOut);
  const resizes = new ResizeObserver(function (entries) {
    const box = entries[entries.length - 1].devicePixelContentBoxSize;
    observed = box ? { width: box[0].inlineSize, height: box[0].blockSize } : null;
    layOut();
  });
  try {
    resizes.observe(canvas, { box: 'device-pixel-content-box' });
  } catch (error) {   // browsers that have no device-pixel box
    resizes.observe(canvas);
  }
  showHint();

  const bytes = Uint8Array.from(atob(WASM_BASE64), function (c) { return c.charCodeAt(0); });
  WebAssembly.instantiate(bytes, {}).then(function (result) {
    core = result.instance.exports;
    core._initialize();
    periodMs = core.PageStart(queryInteger('speed'), queryInteger('scale'));
    layOut();
    requestAnimationFrame(tick);
  });
})();
