// The page side of the web host's display (display.cpp calls these): how a
// frame reaches the canvas, the 60 Hz the display mode promises, and what the
// page tells of its visibility and focus. Debian's emscripten minifies this
// file with an old parser, which mangles destructuring: there is none here.

// A canvas takes one kind of context for life, so its presenter is made once
// and kept on it: a second play in the same page finds it there.
function screenPresenter(canvas) {
  if (!canvas.screenPresenter) canvas.screenPresenter = webGlPresenter(canvas) || canvas2dPresenter(canvas);
  return canvas.screenPresenter;
}

// The 16-bit frame goes to the GPU as it is, a 5-6-5 texture that the GPU
// widens and the page scales; no pass over the pixels on the CPU. Other
// layouts come as RGBA. A WebGL drawn in software (no GPU, or one the
// browser will not use) is turned down: measured in headless Chromium on
// SwiftShader, it took the browser 10 ms of CPU a frame against 4 ms for
// the 2D canvas, which takes RGBA and is the path wherever WebGL is slow or
// missing. Browsers say so with failIfMajorPerformanceCaveat, but not all
// of them (headless Chromium does not), so the renderer's name is asked
// too, on a canvas of its own: a canvas that has a WebGL context can never
// have a 2D one.
const webGlOptions = {alpha: false, antialias: false, depth: false, stencil: false, premultipliedAlpha: false,
                      preserveDrawingBuffer: false, failIfMajorPerformanceCaveat: true};

function fastWebGl() {
  const probe = document.createElement('canvas');
  const gl = probe.getContext('webgl2', webGlOptions) || probe.getContext('webgl', webGlOptions);
  if (!gl) return false;
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  const renderer = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
  const lose = gl.getExtension('WEBGL_lose_context');
  if (lose) lose.loseContext();
  return !/swiftshader|llvmpipe|softpipe|software|basic render/i.test(renderer);
}

function webGlPresenter(canvas) {
  if (!fastWebGl()) return null;
  let gl = canvas.getContext('webgl2', webGlOptions), name = 'webgl2';
  if (!gl) {
    gl = canvas.getContext('webgl', webGlOptions);
    name = 'webgl';
  }
  if (!gl) return null;
  const webgl2 = name === 'webgl2';
  let texture = null, shape = '', packed = null, ready = false;

  // One triangle over the whole viewport; texel centres land on pixel
  // centres, and NEAREST keeps every pixel as it is.
  const build = () => {
    const shader = (type, source) => {
      const s = gl.createShader(type);
      gl.shaderSource(s, source);
      gl.compileShader(s);
      return s;
    };
    const program = gl.createProgram();
    gl.attachShader(program, shader(gl.VERTEX_SHADER,
      'attribute vec2 corner; varying vec2 at;' +
      'void main() { at = vec2(corner.x + 1.0, 1.0 - corner.y) * 0.5; gl_Position = vec4(corner, 0.0, 1.0); }'));
    gl.attachShader(program, shader(gl.FRAGMENT_SHADER,
      '#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump float;\n#endif\n' +
      'uniform sampler2D screen; varying vec2 at;' +
      'void main() { gl_FragColor = vec4(texture2D(screen, at).rgb, 1.0); }'));
    gl.bindAttribLocation(program, 0, 'corner');
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) return false;
    gl.useProgram(program);
    gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array([-1, -1, 3, -1, -1, 3]), gl.STATIC_DRAW);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
    texture = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 2);
    shape = '';
    return true;
  };
  // A GPU reset takes every object; the frames wait until the context is back.
  canvas.addEventListener('webglcontextlost', event => { event.preventDefault(); ready = false; });
  canvas.addEventListener('webglcontextrestored', () => { ready = build(); });
  ready = build();
  if (!ready && !gl.isContextLost()) return null;

  return {
    name: name,
    takes565: true,
    // pixels: Uint16Array of 5-6-5 values, `row` of them from one row to the
    // next; or Uint8Array of RGBA bytes, `row` = width. Uploaded whole.
    put(pixels, width, height, row) {
      if (!ready) return;
      if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
      }
      const is565 = pixels instanceof Uint16Array;
      if (is565 && row !== width && !webgl2) {
        // WebGL 1 reads rows back to back only.
        if (!packed || packed.length !== width * height) packed = new Uint16Array(width * height);
        for (let y = 0; y < height; ++y) packed.set(pixels.subarray(y * row, y * row + width), y * width);
        pixels = packed;
        row = width;
      }
      if (webgl2) gl.pixelStorei(gl.UNPACK_ROW_LENGTH, row === width ? 0 : row);
      const format = is565 ? gl.RGB : gl.RGBA, type = is565 ? gl.UNSIGNED_SHORT_5_6_5 : gl.UNSIGNED_BYTE;
      const now = width + 'x' + height + (is565 ? ' 565' : ' rgba');
      if (now !== shape) {
        const internal = webgl2 ? (is565 ? gl.RGB565 : gl.RGBA8) : format;
        gl.texImage2D(gl.TEXTURE_2D, 0, internal, width, height, 0, format, type, pixels);
        shape = now;
      } else {
        gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, format, type, pixels);
      }
      gl.viewport(0, 0, width, height);
      gl.drawArrays(gl.TRIANGLES, 0, 3);
    },
  };
}

// The program widens into its memory only what changed (x, y, w, h), and only
// that is put; the whole frame, which `rgba` always holds, goes where the
// canvas may not show the last one: the first put, a resized or restored
// canvas, a page shown again or switched to or from full screen. The image
// is a view of the program's memory, kept while that stays where it is.
function canvas2dPresenter(canvas) {
  const context = canvas.getContext('2d', {alpha: false});
  if (!context) return {name: 'none', takes565: false, put() {}};
  let source = null, image = null, whole = true;
  const putWhole = () => { whole = true; };
  document.addEventListener('visibilitychange', putWhole);
  document.addEventListener('fullscreenchange', putWhole);
  canvas.addEventListener('contextrestored', putWhole);
  return {
    name: '2d',
    takes565: false,
    put(rgba, width, height, row, x, y, w, h) {
      if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
        whole = true;
      }
      if (rgba !== source) {
        image = new ImageData(new Uint8ClampedArray(rgba.buffer, rgba.byteOffset, width * height * 4), width, height);
        source = rgba;
        whole = true;
      }
      if (whole) context.putImageData(image, 0, 0);
      else if (w > 0 && h > 0) context.putImageData(image, 0, 0, x, y, w, h);
      whole = false;
    },
  };
}

// The display mode runs at 60 Hz whatever the screen's own rate: a frame may
// go at the first animation frame from a quarter tick before its turn, so a
// 60 Hz screen's jitter never costs a whole frame, and the turns advance by
// exact ticks, so a 120 or 144 Hz screen (or one with no limit) still gives
// 60 a second. A program more than a tick late starts a new schedule rather
// than rushing to catch up. The wait also ends when the page is hidden or
// shown, so the program hears of it at once; a hidden page has no animation
// frames, so a program waiting there sleeps until it is shown.
function waitForScreenTick(pacer) {
  const tick = 1000 / 60;
  return new Promise(resolve => {
    let request = 0;
    const finish = () => {
      cancelAnimationFrame(request);
      document.removeEventListener('visibilitychange', finish);
      resolve();
    };
    const frame = time => {
      if (pacer.next === undefined || time > pacer.next + tick) pacer.next = time;
      if (time >= pacer.next - tick / 4) {
        pacer.next += tick;
        finish();
      } else {
        request = requestAnimationFrame(frame);
      }
    };
    request = requestAnimationFrame(frame);
    document.addEventListener('visibilitychange', finish);
  });
}

// Visible: the page is in front (the program is active and draws). Focused:
// its keys are the program's. A page hidden and shown again between two
// looks still lost the display, as a window that went behind and came back.
function pageWatcher() {
  const watcher = {wasHidden: false};
  watcher.onChange = () => { if (document.hidden) watcher.wasHidden = true; };
  document.addEventListener('visibilitychange', watcher.onChange);
  watcher.stop = () => document.removeEventListener('visibilitychange', watcher.onChange);
  return watcher;
}
