// The page around the viewer's module. It only turns browser events into
// calls of the module (qel_web_*) and shows what the module's window asks
// for; what a dropped file does, what the title becomes, when Extract(BMP)
// is grayed and what goes to the status line are all decided by the core.
'use strict';

(() => {
  // The module's file system: the working directory holds bg/bg.bmp and
  // receives extracted files; dropped files are copied apart from it.
  const WORK_DIR = '/viewer';
  const DROP_DIR = '/dropped';

  const canvas = document.getElementById('canvas');
  const statusLine = document.getElementById('status');
  const picker = document.getElementById('open');
  const commandButtons = Array.from(document.querySelectorAll('button[data-command]'));
  const exitButton = document.getElementById('exit');

  let module = null;
  let acceptingDrops = false;
  let ended = false;
  let firstFrameDrawn = false;
  let dropsHandled = 0;
  // Drops are read asynchronously; this keeps them in the order they came.
  let queue = Promise.resolve();

  const setStatus = (text) => { statusLine.textContent = text; };

  // Draws the canvas pixels whole: the largest whole number of device pixels
  // per canvas pixel that fits the window, at least one canvas pixel per
  // CSS pixel where the screen allows it.
  function fitCanvas() {
    const ratio = window.devicePixelRatio || 1;
    const menuAndStatus = canvas.offsetTop + statusLine.offsetHeight + 24;
    const room = Math.min((document.documentElement.clientWidth - 16) / canvas.width,
                          (window.innerHeight - menuAndStatus) / canvas.height);
    const factor = Math.max(Math.floor(room * ratio), Math.floor(ratio), 1);
    canvas.style.width = `${(canvas.width * factor) / ratio}px`;
    canvas.style.height = `${(canvas.height * factor) / ratio}px`;
  }

  // What the module's window asks of the page (web/WebViewerWindow.cpp).
  const page = {
    setTitle(title) {
      document.title = title;
      setStatus('');  // a new file: earlier diagnostics are about another one
    },
    setCommandEnabled(commandId, enabled) {
      for (const button of commandButtons) {
        if (Number(button.dataset.command) === commandId) button.disabled = !enabled;
      }
    },
    present(rgba, width, height) {
      if (canvas.width !== width || canvas.height !== height) {
        canvas.width = width;
        canvas.height = height;
        fitCanvas();
      }
      const context = canvas.getContext('2d');
      context.putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer), width, height), 0, 0);
      if (!firstFrameDrawn) {
        // How long the page takes to show something, for whoever measures it.
        firstFrameDrawn = true;
        performance.mark('qel-first-frame');
      }
    },
    quit() {
      ended = true;
      acceptingDrops = false;
      for (const button of commandButtons) button.disabled = true;
      picker.disabled = true;
      // Gives back the canvas's pixels too, not only the module's.
      canvas.width = 0;
      canvas.height = 0;
      document.body.classList.add('ended');
      setStatus('QelViewer has ended. Reload the page to start it again.');
    },
    acceptDrops() {
      acceptingDrops = true;
    },
    diagnostic(line) {
      console.error(line);
      setStatus(statusLine.textContent ? `${statusLine.textContent}\n${line}` : line);
    },
    download(name, bytes) {
      const url = URL.createObjectURL(new Blob([bytes], { type: 'image/bmp' }));
      const link = document.createElement('a');
      link.href = url;
      link.download = name;
      link.style.display = 'none';
      document.body.append(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(url), 60000);
    },
  };

  // Copies the file into the module's file system and hands its path to the
  // viewer. A file the browser cannot read is not copied, so the viewer
  // finds nothing there and says so, as the desktop does for a file that
  // vanished after the drag began.
  async function openFile(file) {
    const path = `${DROP_DIR}/${file.name}`;
    const limit = module.ccall('qel_web_copy_limit', 'number', [], []);
    try {
      const bytes = new Uint8Array(await file.slice(0, limit).arrayBuffer());
      module.FS.writeFile(path, bytes);
    } catch (error) {
      console.warn(`${file.name}: ${error}`);
    }
    // A larger file is copied in part; the module reads no further than the
    // copy and says so should it need to.
    const cut = file.size > limit ? 1 : 0;
    if (!ended) module.ccall('qel_web_drop', null, ['string', 'number'], [path, cut]);
  }

  // Every drop is counted once dealt with, taken or not, so that a script
  // driving the page knows when to look at the result.
  function takeFile(file) {
    queue = queue.then(async () => {
      try {
        if (file && acceptingDrops && !ended) await openFile(file);
      } catch (error) {
        console.error(error);  // and the next drop is still taken
      }
      document.documentElement.dataset.dropsHandled = String(++dropsHandled);
    });
  }

  const carriesFiles = (event) =>
    event.dataTransfer && Array.from(event.dataTransfer.types).includes('Files');

  // The whole page is the drop target. Files are always kept from the
  // browser's own handling (which would leave the page to show the file),
  // also before the viewer is ready and after it has ended.
  for (const type of ['dragenter', 'dragover']) {
    document.addEventListener(type, (event) => {
      if (!carriesFiles(event)) return;
      event.preventDefault();
      event.dataTransfer.dropEffect = acceptingDrops ? 'copy' : 'none';
    });
  }
  document.addEventListener('drop', (event) => {
    if (!carriesFiles(event)) return;
    event.preventDefault();
    takeFile(event.dataTransfer.files[0]);  // only the first file of a drop counts
  });

  picker.addEventListener('change', () => {
    takeFile(picker.files[0]);
    picker.value = '';  // so that choosing the same file again is a new open
  });

  for (const button of commandButtons) {
    button.addEventListener('click', () => {
      if (module && !ended) module.ccall('qel_web_command', null, ['number'], [Number(button.dataset.command)]);
    });
  }

  window.addEventListener('resize', fitCanvas);
  fitCanvas();

  // The backdrop is fetched while the module loads; without one (or when
  // it cannot be fetched) the viewer falls back to white by itself.
  const backdrop = fetch('bg/bg.bmp')
    .then((response) => (response.ok ? response.arrayBuffer() : null))
    .catch(() => null);

  createQelViewer({ page })
    .then(async (loaded) => {
      module = loaded;
      const bytes = await backdrop;
      module.FS.mkdirTree(`${WORK_DIR}/bg`);
      module.FS.mkdir(DROP_DIR);
      if (bytes) module.FS.writeFile(`${WORK_DIR}/bg/bg.bmp`, new Uint8Array(bytes));
      module.FS.chdir(WORK_DIR);
      setStatus('Drop a .qel file on the page.');
      module.ccall('qel_web_start', null, [], []);
      exitButton.disabled = false;
      picker.disabled = false;
    })
    .catch((error) => {
      setStatus(`The viewer could not start in this browser: ${error}`);
      console.error(error);
    });
})();
