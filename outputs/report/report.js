// The report page: everything it shows is computed here from the data the
// writer embedded (outputs/report.h describes the data and its budget).
//
// Two computations must give the writer's bits, not just its look:
//   - a pair's lag profile mirrors the library's profile(): per lag the
//     products added in four partial sums combined as (p0 + p2) + (p1 + p3),
//     then the rest one by one; the division by the root of the two lag-0
//     sums. JavaScript numbers are doubles and are never contracted, so the
//     same order gives the same bits.
//   - the groups at a threshold mirror the program's cut of the tree: a join
//     is kept when its height is at most 1 - t, groups are numbered by size
//     (then by their first file), and a medoid's sum runs over the other
//     members in file order.
// Every name reaches the page as text (textContent), never as markup.
(function () {
  'use strict';

  const data = JSON.parse(document.getElementById('lagscan-data').textContent);

  // ---- decoding -------------------------------------------------------
  function bytesOf(text) {
    const raw = atob(text);
    const bytes = new Uint8Array(raw.length);
    for (let k = 0; k < raw.length; ++k) bytes[k] = raw.charCodeAt(k);
    return bytes.buffer;
  }
  const float64s = (text) => new Float64Array(bytesOf(text));
  const float32s = (text) => new Float32Array(bytesOf(text));
  const int32s = (text) => new Int32Array(bytesOf(text));

  const names = data.names;
  const n = names.length;
  const s = data.s;
  const h = s >> 1;
  const digits = data.digits;
  const against = data.mode === 'against';

  // The C library's "%.*g", rounding a tie to even as it does.
  const nanView = new DataView(new ArrayBuffer(8));
  function valueText(v, precision) {
    const p = precision || digits;
    if (Number.isNaN(v)) {
      nanView.setFloat64(0, v);
      return (nanView.getUint8(0) & 0x80) ? '-nan' : 'nan';
    }
    if (!Number.isFinite(v)) return v < 0 ? '-inf' : 'inf';
    const sign = (v < 0 || Object.is(v, -0)) ? '-' : '';
    const a = Math.abs(v);
    if (a === 0) return sign + '0';
    const rounded = a.toExponential(p - 1).split('e');
    let mantissa = rounded[0];
    let exponent = Number(rounded[1]);
    const [exactMantissa, exactExponentText] = a.toExponential(99).split('e');
    const exact = exactMantissa.replace('.', '');
    if (exact[p] === '5' && /^0*$/.test(exact.slice(p + 1))) {
      // A tie: toExponential rounds it up, the C library to even.
      const kept = exact.slice(0, p);
      if (Number(kept[p - 1]) % 2 === 0) {
        mantissa = kept.length > 1 ? kept[0] + '.' + kept.slice(1) : kept;
        exponent = Number(exactExponentText);
      }
    }
    const digitsOnly = mantissa.replace('.', '');
    if (exponent < -4 || exponent >= p) {
      let m = digitsOnly.length > 1 ? digitsOnly[0] + '.' + digitsOnly.slice(1) : digitsOnly;
      if (m.includes('.')) m = m.replace(/0+$/, '').replace(/\.$/, '');
      const e = Math.abs(exponent);
      return sign + m + 'e' + (exponent < 0 ? '-' : '+') + (e < 10 ? '0' + e : String(e));
    }
    let text;
    if (exponent >= 0) {
      text = digitsOnly.slice(0, exponent + 1) + '.' + digitsOnly.slice(exponent + 1);
    } else {
      text = '0.' + '0'.repeat(-exponent - 1) + digitsOnly;
    }
    text = text.replace(/0+$/, '').replace(/\.$/, '');
    return sign + text;
  }

  // ---- the signals ----------------------------------------------------
  // Exact: count doubles a file. Envelope: the min and max of each run of
  // `width` samples, as floats.
  const signalCount = data.count;
  const signals = data.signals;
  let exactSignals = null;
  let envelopeMin = null;
  let envelopeMax = null;
  if (signals.kind === 'exact') {
    exactSignals = float64s(signals.values);
  } else {
    envelopeMin = float32s(signals.min);
    envelopeMax = float32s(signals.max);
  }
  const buckets = signals.kind === 'exact' ? signalCount : signals.buckets;
  const referenceSignal = against && data.against.signal ? float64s(data.against.signal) : null;
  const referenceMin = against && data.against.min ? float32s(data.against.min) : null;
  const referenceMax = against && data.against.max ? float32s(data.against.max) : null;

  // Item k of the page: in the ranked list the reference is 0 and file j
  // is j + 1; in the map file i is i.
  const itemCount = against ? n + 1 : n;
  const itemName = (k) => (against ? (k === 0 ? data.against.reference : names[k - 1]) : names[k]);
  function signalOf(k) {
    if (against && k === 0) return referenceSignal;
    const f = against ? k - 1 : k;
    return exactSignals.subarray(f * signalCount, (f + 1) * signalCount);
  }
  function envelopeOf(k) {
    if (against && k === 0) return [referenceMin, referenceMax];
    const f = against ? k - 1 : k;
    return [envelopeMin.subarray(f * buckets, (f + 1) * buckets), envelopeMax.subarray(f * buckets, (f + 1) * buckets)];
  }
  function midpoints(k) {
    const [lo, hi] = envelopeOf(k);
    const mid = new Float64Array(lo.length);
    for (let i = 0; i < lo.length; ++i) mid[i] = (lo[i] + hi[i]) / 2;
    return mid;
  }

  // ---- the lag profile ------------------------------------------------
  function orderedDot(x, xFrom, y, yFrom, count) {
    let sum = 0.0;
    let i = 0;
    if (count >= 4) {
      let p0 = 0.0;
      let p1 = 0.0;
      let p2 = 0.0;
      let p3 = 0.0;
      for (; i + 4 <= count; i += 4) {
        p0 += x[xFrom + i] * y[yFrom + i];
        p1 += x[xFrom + i + 1] * y[yFrom + i + 1];
        p2 += x[xFrom + i + 2] * y[yFrom + i + 2];
        p3 += x[xFrom + i + 3] * y[yFrom + i + 3];
      }
      sum = (p0 + p2) + (p1 + p3);
    }
    for (; i < count; ++i) sum += x[xFrom + i] * y[yFrom + i];
    return sum;
  }

  function profileOf(x, y, halfWidth) {
    const count = x.length;
    const result = { lags: [], sums: [], normalised: [], bestLag: 0 };
    if (count === 0) return result;
    const reach = Math.min(halfWidth, count - 1);
    const ownX = orderedDot(x, 0, x, 0, count);
    const ownY = orderedDot(y, 0, y, 0, count);
    const root = Math.sqrt(Math.abs(ownY * ownX));
    const divisor = root > 1e-100 ? root : 1e-100;
    let best = -1;
    for (let k = 0; k <= 2 * reach; ++k) {
      const m = k - reach;
      const lo = Math.max(0, -m);
      const sum = orderedDot(x, lo, y, lo + m, Math.min(count, count - m) - lo);
      const value = sum / divisor;
      result.lags.push(m);
      result.sums.push(sum);
      result.normalised.push(value);
      if (Number.isNaN(value)) continue;
      if (best < 0) {
        best = k;
        continue;
      }
      // Larger wins; of equal values the one nearer lag 0, then the negative.
      const held = result.normalised[best];
      if (value > held || (value === held && Math.abs(m) < Math.abs(best - reach))) best = k;
    }
    if (best >= 0) result.bestLag = best - reach;
    return result;
  }

  // Exact signals give the library's profile; an envelope gives one of its
  // midpoints, each lag a run of `width` samples.
  function pairProfile(i, j) {
    if (exactSignals) {
      const p = profileOf(signalOf(i), signalOf(j), h);
      p.approximate = false;
      p.step = 1;
      return p;
    }
    const width = signals.width;
    const p = profileOf(midpoints(i), midpoints(j), Math.ceil(h / width));
    p.approximate = true;
    p.step = width;
    return p;
  }

  // ---- the table --------------------------------------------------------
  const table = data.table || null;
  let exactTable = null;
  let rowStart = null;
  let blockMeans = null;
  let blockSize = 1;
  let blockSide = 0;
  if (table && table.kind === 'exact') {
    exactTable = float64s(table.values);
    rowStart = new Float64Array(n);
    for (let i = 0; i < n; ++i) rowStart[i] = i * n - (i * (i - 1)) / 2;
  } else if (table) {
    blockMeans = float32s(table.means);
    blockSize = table.block;
    blockSide = table.side;
  }
  const nearestCount = data.nearest ? data.nearest.k : 0;
  const nearestIndex = data.nearest ? int32s(data.nearest.index) : new Int32Array(0);
  const nearestValue = data.nearest ? float64s(data.nearest.value) : new Float64Array(0);
  const againstValues = against ? float64s(data.against.values) : null;

  // The value of files i and j: exact, or null where the page holds only a
  // block's mean.
  function exactValue(i, j) {
    if (exactTable) {
      const a = Math.min(i, j);
      const b = Math.max(i, j);
      return exactTable[rowStart[a] + (b - a)];
    }
    for (const [from, to] of [[i, j], [j, i]]) {
      for (let k = 0; k < nearestCount; ++k) {
        if (nearestIndex[from * nearestCount + k] === to) return nearestValue[from * nearestCount + k];
      }
    }
    return null;
  }

  // ---- the tree ---------------------------------------------------------
  const order = against ? new Int32Array(0) : int32s(data.order);
  const position = new Int32Array(n);
  for (let p = 0; p < order.length; ++p) position[order[p]] = p;
  const mergeA = data.tree ? int32s(data.tree.a) : new Int32Array(0);
  const mergeB = data.tree ? int32s(data.tree.b) : new Int32Array(0);
  const mergeHeight = data.tree ? float64s(data.tree.height) : new Float64Array(0);
  const merges = mergeA.length;
  // Every cluster is a run of the leaf order: [first, end).
  const clusterFirst = new Int32Array(n + merges);
  const clusterEnd = new Int32Array(n + merges);
  for (let i = 0; i < n; ++i) {
    clusterFirst[i] = position[i];
    clusterEnd[i] = position[i] + 1;
  }
  const parentOf = new Int32Array(n + merges).fill(-1);
  for (let k = 0; k < merges; ++k) {
    const c = n + k;
    clusterFirst[c] = Math.min(clusterFirst[mergeA[k]], clusterFirst[mergeB[k]]);
    clusterEnd[c] = Math.max(clusterEnd[mergeA[k]], clusterEnd[mergeB[k]]);
    parentOf[mergeA[k]] = c;
    parentOf[mergeB[k]] = c;
  }
  const topHeight = merges > 0 ? Math.max(mergeHeight[merges - 1], 1e-9) : 1;

  function distanceOf(similarity) {
    if (Number.isNaN(similarity)) return 2.0;
    const d = 1.0 - similarity;
    return d < 0.0 ? 0.0 : (d > 2.0 ? 2.0 : d);
  }

  // The groups when the first `kept` joins stand.
  function keepMerges(kept) {
    const top = new Int32Array(n + kept);
    for (let c = 0; c < top.length; ++c) top[c] = c;
    for (let k = kept - 1; k >= 0; --k) {
      top[mergeA[k]] = top[n + k];
      top[mergeB[k]] = top[n + k];
    }
    const firstFile = new Int32Array(n + kept).fill(n);
    const size = new Int32Array(n + kept);
    for (let i = 0; i < n; ++i) {
      if (i < firstFile[top[i]]) firstFile[top[i]] = i;
      ++size[top[i]];
    }
    const tops = [];
    for (let c = 0; c < top.length; ++c) if (size[c] > 0) tops.push(c);
    tops.sort((p, q) => (size[p] !== size[q] ? size[q] - size[p] : firstFile[p] - firstFile[q]));
    const number = new Int32Array(n + kept);
    tops.forEach((c, k) => { number[c] = k; });
    const groupOf = new Int32Array(n);
    const members = tops.map(() => []);
    for (let i = 0; i < n; ++i) {
      groupOf[i] = number[top[i]];
      members[groupOf[i]].push(i);
    }
    let medoids = null;
    if (exactTable) {
      medoids = members.map((group) => {
        let best = group[0];
        let bestSum = 0.0;
        group.forEach((i, p) => {
          let sum = 0.0;
          for (const j of group) if (j !== i) sum += 1.0 - distanceOf(exactValue(i, j));
          if (p === 0 || sum > bestSum) {
            best = i;
            bestSum = sum;
          }
        });
        return best;
      });
    } else if (data.cut && data.cut.medoids && data.cut.kept === kept) {
      medoids = Array.from(int32s(data.cut.medoids));
    }
    return {
      kept,
      groupOf: Array.from(groupOf),
      sizes: members.map((group) => group.length),
      members,
      medoids,
      clusters: tops,
    };
  }

  function groupsAt(t) {
    const limit = 1.0 - t;
    let kept = 0;
    while (kept < merges && mergeHeight[kept] <= limit) ++kept;
    const g = keepMerges(kept);
    g.threshold = t;
    return g;
  }
  function groupsInto(k) {
    const wanted = Math.min(Math.max(1, Math.floor(k)), Math.max(n, 1));
    const g = keepMerges(n === 0 ? 0 : n - wanted);
    g.clustersAsked = wanted;
    return g;
  }

  // ---- page elements ------------------------------------------------------
  const $ = (id) => document.getElementById(id);
  function element(tag, text, className) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (className) e.className = className;
    return e;
  }

  const palette = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b', '#e377c2', '#7f7f7f',
    '#bcbd22', '#17becf', '#393b79', '#637939'];
  const groupColour = (g) => palette[g % palette.length];

  // Diverging: blue at -1, white at 0, red at 1; grey where there is no number.
  function colourOf(v) {
    if (Number.isNaN(v)) return [160, 160, 160];
    const t = v < -1 ? -1 : (v > 1 ? 1 : v);
    if (t >= 0) return [255, Math.round(255 - 200 * t), Math.round(255 - 215 * t)];
    return [Math.round(255 + 215 * t), Math.round(255 + 160 * t), 255];
  }

  // The map's colours, looked up rather than computed for every pixel:
  // 1024 steps over [-1, 1], then grey for no number.
  const steps = 1024;
  // Each colour as one opaque RGBA pixel, written as a single 32-bit word
  // (in the machine's byte order, as the image's bytes are read).
  const colourTable = new Uint32Array(steps + 1);
  const colourBytes = new Uint8Array(colourTable.buffer);
  for (let k = 0; k <= steps; ++k) {
    colourBytes.set(colourOf(k === steps ? NaN : -1 + (2 * k + 1) / steps).concat([255]), 4 * k);
  }
  function colourStep(v) {
    if (Number.isNaN(v)) return steps;
    const k = Math.floor(((v + 1) * steps) / 2);
    return k < 0 ? 0 : (k >= steps ? steps - 1 : k);
  }

  // ---- state ------------------------------------------------------------------
  const state = {
    view: { r0: 0, r1: n, c0: 0, c1: n },
    groups: null,
    shown: null,
    shifted: true,
    found: -1,
    hovered: null,
  };

  // ---- the map ----------------------------------------------------------------
  const mapCanvas = $('map');
  const overlayCanvas = $('map-overlay');
  const treeCanvas = $('tree');
  const scaleCanvas = $('scale');
  const tip = $('tip');
  let mapImage = null;

  function cellAt(px, py) {
    const size = mapCanvas.width;
    const { r0, r1, c0, c1 } = state.view;
    const r = Math.min(r1 - 1, r0 + Math.floor((py * (r1 - r0)) / size));
    const c = Math.min(c1 - 1, c0 + Math.floor((px * (c1 - c0)) / size));
    return [r, c];
  }

  // Mean of the leaf-order cells [ra, rb) x [ca, cb), NaNs passed over.
  function meanOver(ra, rb, ca, cb) {
    let sum = 0;
    let count = 0;
    if (exactTable) {
      for (let r = ra; r < rb; ++r) {
        for (let c = ca; c < cb; ++c) {
          const v = exactValue(order[r], order[c]);
          if (!Number.isNaN(v)) {
            sum += v;
            ++count;
          }
        }
      }
    } else {
      const ba = Math.floor(ra / blockSize);
      const bb = Math.max(ba + 1, Math.ceil(rb / blockSize));
      const ka = Math.floor(ca / blockSize);
      const kb = Math.max(ka + 1, Math.ceil(cb / blockSize));
      for (let r = ba; r < bb; ++r) {
        for (let c = ka; c < kb; ++c) {
          const v = blockMeans[r * blockSide + c];
          if (!Number.isNaN(v)) {
            sum += v;
            ++count;
          }
        }
      }
    }
    return count > 0 ? sum / count : NaN;
  }

  function drawMap() {
    const size = mapCanvas.width;
    const g = mapCanvas.getContext('2d');
    if (!mapImage || mapImage.width !== size) mapImage = g.createImageData(size, size);
    const pixels = new Uint32Array(mapImage.data.buffer);
    const { r0, r1, c0, c1 } = state.view;
    const rowEdges = new Int32Array(size + 1);
    const colEdges = new Int32Array(size + 1);
    for (let k = 0; k <= size; ++k) {
      rowEdges[k] = r0 + Math.floor((k * (r1 - r0)) / size);
      colEdges[k] = c0 + Math.floor((k * (c1 - c0)) / size);
    }
    // A unit is a cell of the table, or a block where the page holds blocks.
    // A pixel no wider than a unit takes the value of the unit under it; a
    // wider one, the mean of the units it covers. A row of pixels over the
    // same units as the row above is a copy of it, which is most rows when
    // zoomed in.
    const unit = exactTable ? 1 : blockSize;
    const unitOf = (edges, k) => Math.floor(edges[k] / unit);
    const unitEnd = (edges, k) => (edges[k + 1] - edges[k] <= unit ? unitOf(edges, k) + 1
      : Math.ceil(edges[k + 1] / unit));
    const colA = new Int32Array(size);
    const colB = new Int32Array(size);
    for (let px = 0; px < size; ++px) {
      colA[px] = unitOf(colEdges, px);
      colB[px] = unitEnd(colEdges, px);
    }
    let aboveA = -1;
    let aboveB = -1;
    for (let py = 0; py < size; ++py) {
      const ua = unitOf(rowEdges, py);
      const ub = unitEnd(rowEdges, py);
      if (ua === aboveA && ub === aboveB) {
        pixels.copyWithin(py * size, (py - 1) * size, py * size);
        continue;
      }
      aboveA = ua;
      aboveB = ub;
      let leftA = -1;
      let leftB = -1;
      let colour = 0;
      for (let px = 0; px < size; ++px) {
        const va = colA[px];
        const vb = colB[px];
        if (va !== leftA || vb !== leftB) {
          let v;
          if (ub - ua === 1 && vb - va === 1) {
            v = exactTable ? exactValue(order[ua], order[va]) : blockMeans[ua * blockSide + va];
          } else {
            v = meanOver(ua * unit, ub * unit, va * unit, vb * unit);
          }
          colour = colourTable[colourStep(v)];
          leftA = va;
          leftB = vb;
        }
        pixels[py * size + px] = colour;
      }
    }
    g.putImageData(mapImage, 0, 0);
    const blockNote = exactTable ? '' : (r1 - r0 <= size ? ' (blocks of ' + blockSize + ' files; exact values for each file\'s nearest)' : '');
    $('view-note').textContent = 'Rows ' + (r0 + 1) + '-' + r1 + ', columns ' + (c0 + 1) + '-' + c1 + ' of ' + n +
      ' in the tree\'s order' + blockNote + '.';
    drawOverlay();
    drawTree();
  }

  // Group borders, the found file, the hovered cell and a drag rectangle:
  // redrawn without the map beneath.
  let dragRectangle = null;
  function drawOverlay() {
    const size = overlayCanvas.width;
    const g = overlayCanvas.getContext('2d');
    g.clearRect(0, 0, size, size);
    const { r0, r1, c0, c1 } = state.view;
    const ry = (r) => ((r - r0) * size) / (r1 - r0);
    const cx = (c) => ((c - c0) * size) / (c1 - c0);
    if (state.groups) {
      g.strokeStyle = 'rgba(0,0,0,0.55)';
      g.lineWidth = 1;
      g.beginPath();
      for (let p = 1; p < n; ++p) {
        if (state.groups.groupOf[order[p]] === state.groups.groupOf[order[p - 1]]) continue;
        if (p > r0 && p < r1) {
          g.moveTo(0, ry(p));
          g.lineTo(size, ry(p));
        }
        if (p > c0 && p < c1) {
          g.moveTo(cx(p), 0);
          g.lineTo(cx(p), size);
        }
      }
      g.stroke();
    }
    if (state.found >= 0) {
      const p = position[state.found];
      g.fillStyle = 'rgba(255,200,0,0.35)';
      const hgt = Math.max(2, ry(p + 1) - ry(p));
      const wid = Math.max(2, cx(p + 1) - cx(p));
      if (p >= r0 && p < r1) g.fillRect(0, ry(p), size, hgt);
      if (p >= c0 && p < c1) g.fillRect(cx(p), 0, wid, size);
    }
    if (state.hovered) {
      const [r, c] = state.hovered;
      g.strokeStyle = '#000';
      g.lineWidth = 1.5;
      g.strokeRect(cx(c), ry(r), Math.max(2, cx(c + 1) - cx(c)), Math.max(2, ry(r + 1) - ry(r)));
    }
    if (dragRectangle) {
      const [x0, y0, x1, y1] = dragRectangle;
      g.strokeStyle = '#000';
      g.setLineDash([4, 3]);
      g.strokeRect(Math.min(x0, x1), Math.min(y0, y1), Math.abs(x1 - x0), Math.abs(y1 - y0));
      g.setLineDash([]);
    }
  }

  // The rows' dendrogram, root on the left and the leaves against the map;
  // joins the cut keeps take their group's colour.
  let treeLayout = null;
  function drawTree() {
    const width = treeCanvas.width;
    const height = treeCanvas.height;
    const g = treeCanvas.getContext('2d');
    g.clearRect(0, 0, width, height);
    const { r0, r1 } = state.view;
    const y = new Float64Array(n + merges);
    const x = new Float64Array(n + merges);
    for (let i = 0; i < n; ++i) {
      y[i] = ((position[i] - r0 + 0.5) * height) / (r1 - r0);
      x[i] = width;
    }
    const kept = state.groups ? state.groups.kept : 0;
    for (let k = 0; k < merges; ++k) {
      const c = n + k;
      y[c] = (y[mergeA[k]] + y[mergeB[k]]) / 2;
      x[c] = width - 4 - ((width - 8) * mergeHeight[k]) / topHeight;
    }
    treeLayout = { x, y };
    // One path a colour: a stroke a join would take a frame's time at
    // thousands of files.
    const paths = new Map();
    for (let k = 0; k < merges; ++k) {
      const c = n + k;
      if (clusterEnd[c] <= r0 || clusterFirst[c] >= r1) continue;
      const colour = k < kept && state.groups ? groupColour(state.groups.groupOf[order[clusterFirst[c]]]) : '#888';
      if (!paths.has(colour)) paths.set(colour, []);
      paths.get(colour).push(k);
    }
    for (const [colour, joins] of paths) {
      g.strokeStyle = colour;
      g.lineWidth = colour === '#888' ? 1 : 1.5;
      g.beginPath();
      for (const k of joins) {
        const c = n + k;
        const a = mergeA[k];
        const b = mergeB[k];
        g.moveTo(x[a], y[a]);
        g.lineTo(x[c], y[a]);
        g.lineTo(x[c], y[b]);
        g.lineTo(x[b], y[b]);
      }
      g.stroke();
    }
    if (state.groups && state.groups.threshold !== undefined) {
      const cutX = width - 4 - ((width - 8) * (1 - state.groups.threshold)) / topHeight;
      g.strokeStyle = '#c00';
      g.setLineDash([3, 3]);
      g.beginPath();
      g.moveTo(cutX, 0);
      g.lineTo(cutX, height);
      g.stroke();
      g.setLineDash([]);
    }
  }

  function drawScale() {
    const g = scaleCanvas.getContext('2d');
    const width = scaleCanvas.width;
    for (let px = 0; px < width; ++px) {
      const [r, gr, b] = colourOf(-1 + (2 * px) / (width - 1));
      g.fillStyle = 'rgb(' + r + ',' + gr + ',' + b + ')';
      g.fillRect(px, 0, 1, 14);
    }
  }

  function setView(r0, r1, c0, c1) {
    state.view = { r0, r1: Math.max(r1, r0 + 1), c0, c1: Math.max(c1, c0 + 1) };
    drawMap();
  }
  function resetView() {
    setView(0, n, 0, n);
  }

  function hoverText(r, c) {
    const i = order[r];
    const j = order[c];
    const value = exactValue(i, j);
    const lines = [names[i], names[j]];
    if (value !== null) {
      lines.push('value ' + valueText(value));
    } else {
      const br = Math.floor(r / blockSize);
      const bc = Math.floor(c / blockSize);
      lines.push('block mean ' + valueText(blockMeans[br * blockSide + bc], 4) + ' (not among either file\'s nearest)');
    }
    if (state.groups) {
      lines.push('groups ' + (state.groups.groupOf[i] + 1) + ' and ' + (state.groups.groupOf[j] + 1));
    }
    return lines;
  }

  function showTip(r, c, clientX, clientY) {
    tip.replaceChildren();
    for (const line of hoverText(r, c)) tip.appendChild(element('div', line));
    tip.hidden = false;
    tip.style.left = (clientX + 14 + window.scrollX) + 'px';
    tip.style.top = (clientY + 14 + window.scrollY) + 'px';
  }

  let dragStart = null;
  function canvasPoint(event) {
    const box = overlayCanvas.getBoundingClientRect();
    return [Math.min(overlayCanvas.width - 1, Math.max(0, event.clientX - box.left)),
      Math.min(overlayCanvas.height - 1, Math.max(0, event.clientY - box.top))];
  }
  function installMapEvents() {
    overlayCanvas.addEventListener('mousedown', (event) => {
      dragStart = canvasPoint(event);
    });
    overlayCanvas.addEventListener('mousemove', (event) => {
      const [px, py] = canvasPoint(event);
      if (dragStart && Math.abs(px - dragStart[0]) + Math.abs(py - dragStart[1]) > 4) {
        dragRectangle = [dragStart[0], dragStart[1], px, py];
      }
      state.hovered = cellAt(px, py);
      showTip(state.hovered[0], state.hovered[1], event.clientX, event.clientY);
      drawOverlay();
    });
    overlayCanvas.addEventListener('mouseleave', () => {
      tip.hidden = true;
      state.hovered = null;
      dragStart = null;
      dragRectangle = null;
      drawOverlay();
    });
    window.addEventListener('mouseup', (event) => {
      if (!dragStart) return;
      const from = dragStart;
      dragStart = null;
      if (dragRectangle) {
        dragRectangle = null;
        const end = canvasPoint(event);
        const [ra, ca] = cellAt(Math.min(from[0], end[0]), Math.min(from[1], end[1]));
        const [rb, cb] = cellAt(Math.max(from[0], end[0]), Math.max(from[1], end[1]));
        setView(ra, rb + 1, ca, cb + 1);
        return;
      }
      if (event.target !== overlayCanvas) return;
      const [r, c] = cellAt(from[0], from[1]);
      showPair(order[r], order[c]);
    });
    overlayCanvas.addEventListener('dblclick', resetView);
    $('reset').addEventListener('click', resetView);
    treeCanvas.addEventListener('click', (event) => {
      if (!treeLayout || merges === 0) return;
      const box = treeCanvas.getBoundingClientRect();
      const px = event.clientX - box.left;
      const py = event.clientY - box.top;
      const { r0, r1 } = state.view;
      const p = Math.min(r1 - 1, r0 + Math.floor((py * (r1 - r0)) / treeCanvas.height));
      // The highest join on the way from this leaf to the root that lies
      // right of the click: the branch that was clicked.
      let c = order[p];
      while (parentOf[c] >= 0 && treeLayout.x[parentOf[c]] >= px) c = parentOf[c];
      if (c < n && parentOf[c] >= 0) c = parentOf[c];
      setView(clusterFirst[c], clusterEnd[c], clusterFirst[c], clusterEnd[c]);
    });
  }

  // ---- the pair -----------------------------------------------------------------
  const overlayPlot = $('pair-plot');
  const profilePlot = $('profile-plot');

  function plotFrame(g, width, height) {
    g.clearRect(0, 0, width, height);
    g.fillStyle = '#fff';
    g.fillRect(0, 0, width, height);
    g.strokeStyle = '#ccc';
    g.strokeRect(0.5, 0.5, width - 1, height - 1);
  }

  // Draws series (arrays of [position, low, high]): a line through single
  // samples, a band from low to high where a point stands for a run of them.
  function drawSeries(g, width, height, series, first, last, bottom, top, colour) {
    const xOf = (t) => ((t - first) * (width - 10)) / Math.max(1, last - first) + 5;
    const yOf = (v) => height - 5 - ((v - bottom) * (height - 10)) / (top - bottom || 1);
    const finite = series.filter(([, lo, hi]) => Number.isFinite(lo) && Number.isFinite(hi));
    if (finite.length === 0) return;
    g.strokeStyle = colour;
    g.fillStyle = colour;
    g.lineWidth = 1.2;
    if (finite.some(([, lo, hi]) => lo !== hi)) {
      g.globalAlpha = 0.35;
      g.beginPath();
      finite.forEach(([t, , hi], k) => (k === 0 ? g.moveTo(xOf(t), yOf(hi)) : g.lineTo(xOf(t), yOf(hi))));
      for (let k = finite.length - 1; k >= 0; --k) g.lineTo(xOf(finite[k][0]), yOf(finite[k][1]));
      g.closePath();
      g.fill();
      g.globalAlpha = 1;
    }
    g.beginPath();
    finite.forEach(([t, lo, hi], k) => {
      const y = yOf((lo + hi) / 2);
      if (k === 0) g.moveTo(xOf(t), y);
      else g.lineTo(xOf(t), y);
    });
    g.stroke();
  }

  function seriesOf(k, offset, step) {
    const out = [];
    if (exactSignals) {
      const values = signalOf(k);
      const every = Math.max(1, Math.floor(values.length / 2000));
      for (let i = 0; i < values.length; i += every) {
        let lo = values[i];
        let hi = values[i];
        for (let q = i + 1; q < Math.min(values.length, i + every); ++q) {
          lo = Math.min(lo, values[q]);
          hi = Math.max(hi, values[q]);
        }
        out.push([i - offset, lo, hi]);
      }
      return out;
    }
    const [lo, hi] = envelopeOf(k);
    for (let b = 0; b < lo.length; ++b) out.push([b * step - offset, lo[b], hi[b]]);
    return out;
  }

  function drawPair() {
    const shown = state.shown;
    const g = overlayPlot.getContext('2d');
    const width = overlayPlot.width;
    const height = overlayPlot.height;
    plotFrame(g, width, height);
    if (!shown) return;
    const step = shown.profile.step;
    const shift = state.shifted ? shown.profile.bestLag * step : 0;
    const first = seriesOf(shown.i, 0, step);
    const second = seriesOf(shown.j, shift, step);
    let bottom = Infinity;
    let top = -Infinity;
    let left = Infinity;
    let right = -Infinity;
    for (const [t, lo, hi] of first.concat(second)) {
      if (Number.isFinite(lo)) bottom = Math.min(bottom, lo);
      if (Number.isFinite(hi)) top = Math.max(top, hi);
      left = Math.min(left, t);
      right = Math.max(right, t);
    }
    if (!(bottom <= top)) {
      bottom = -1;
      top = 1;
    }
    drawSeries(g, width, height, first, left, right, bottom, top, '#1f77b4');
    drawSeries(g, width, height, second, left, right, bottom, top, 'rgba(214,39,40,0.8)');
    drawProfile();
  }

  function drawProfile() {
    const shown = state.shown;
    const g = profilePlot.getContext('2d');
    const width = profilePlot.width;
    const height = profilePlot.height;
    plotFrame(g, width, height);
    if (!shown || shown.profile.lags.length === 0) return;
    const { lags, normalised, bestLag } = shown.profile;
    const reach = (lags.length - 1) / 2;
    const xOf = (m) => 30 + ((m + reach + 0.5) * (width - 40)) / lags.length;
    const yOf = (v) => height / 2 - (v * (height / 2 - 12));
    // The triangular weights, highest at lag 0, as a pale area behind.
    g.fillStyle = 'rgba(0,0,0,0.07)';
    g.beginPath();
    g.moveTo(xOf(-reach), yOf(0));
    g.lineTo(xOf(0), yOf(1));
    g.lineTo(xOf(reach), yOf(0));
    g.closePath();
    g.fill();
    g.strokeStyle = '#999';
    g.beginPath();
    g.moveTo(30, yOf(0));
    g.lineTo(width - 10, yOf(0));
    g.stroke();
    const barWidth = Math.max(1, (width - 40) / lags.length - 1);
    lags.forEach((m, k) => {
      const v = normalised[k];
      if (Number.isNaN(v)) return;
      const clamped = Math.max(-1, Math.min(1, v));
      g.fillStyle = m === bestLag ? '#d62728' : '#1f77b4';
      const y0 = yOf(0);
      const y1 = yOf(clamped);
      g.fillRect(xOf(m) - barWidth / 2, Math.min(y0, y1), barWidth, Math.max(1, Math.abs(y1 - y0)));
    });
    g.strokeStyle = 'rgba(0,0,0,0.35)';
    g.beginPath();
    g.moveTo(xOf(-reach), yOf(0));
    g.lineTo(xOf(0), yOf(1));
    g.lineTo(xOf(reach), yOf(0));
    g.stroke();
    g.fillStyle = '#000';
    g.font = '11px sans-serif';
    g.fillText('1', 4, yOf(1) + 4);
    g.fillText('0', 4, yOf(0) + 4);
    g.fillText('-1', 4, yOf(-1) + 4);
    const step = shown.profile.step;
    g.textAlign = 'center';
    for (const m of new Set([-reach, 0, reach, bestLag])) {
      g.fillStyle = m === bestLag ? '#d62728' : '#000';
      g.fillText('lag ' + m * step, xOf(m), height - 3);
    }
    g.textAlign = 'start';
  }

  function showPair(i, j) {
    const profile = pairProfile(i, j);
    state.shown = { i, j, profile };
    const best = profile.lags.indexOf(profile.bestLag);
    const title = $('pair-title');
    title.replaceChildren();
    title.appendChild(element('span', itemName(i), 'first'));
    title.appendChild(document.createTextNode(' and '));
    title.appendChild(element('span', itemName(j), 'second'));
    const value = against ? (i === 0 ? againstValues[j - 1] : null) : exactValue(i, j);
    const words = [];
    if (value !== null) words.push('value ' + valueText(value) + '.');
    if (best >= 0) {
      const lagWords = profile.approximate ? (profile.bestLag * profile.step) + ' samples (in steps of ' + profile.step + ')'
        : String(profile.bestLag);
      words.push('Lag ' + lagWords + ' wins, at ' + valueText(profile.normalised[best]) + '.');
    } else {
      words.push('No lag: the files hold no values.');
    }
    if (profile.approximate) {
      words.push('The signals are shown as envelopes (the least and greatest value of every ' + profile.step +
        ' samples), and this profile comes from the envelopes\' midpoints: an approximation.');
    }
    $('pair-words').textContent = words.join(' ');
    $('shift-lag').textContent = profile.approximate ? String(profile.bestLag * profile.step) : String(profile.bestLag);
    $('pair-section').hidden = false;
    drawPair();
  }

  // ---- the groups -----------------------------------------------------------
  function showGroups(groups) {
    state.groups = groups;
    const body = $('groups-body');
    body.replaceChildren();
    groups.members.forEach((members, g) => {
      const row = element('tr');
      const swatch = element('td', String(g + 1));
      swatch.style.borderLeft = '6px solid ' + groupColour(g);
      row.appendChild(swatch);
      row.appendChild(element('td', String(members.length)));
      row.appendChild(element('td', groups.medoids ? names[groups.medoids[g]] : '\u2014'));
      const shownMembers = members.slice(0, 6).map((i) => names[i]).join(', ');
      row.appendChild(element('td', members.length > 6 ? shownMembers + ' and ' + (members.length - 6) + ' more' : shownMembers));
      row.className = 'link';
      row.addEventListener('click', () => {
        let first = n;
        let end = 0;
        for (const i of members) {
          first = Math.min(first, position[i]);
          end = Math.max(end, position[i] + 1);
        }
        setView(first, end, first, end);
      });
      body.appendChild(row);
    });
    $('groups-count').textContent = groups.sizes.length + (groups.sizes.length === 1 ? ' group' : ' groups');
    if (!groups.medoids) {
      $('groups-note').textContent = 'Medoids need the whole table, which this page does not hold for ' + n +
        ' files; they are shown for the run\'s own cut.';
    } else {
      $('groups-note').textContent = '';
    }
    drawOverlay();
    drawTree();
  }

  function installGroupEvents() {
    const slider = $('threshold');
    const box = $('threshold-value');
    const k = $('clusters');
    k.max = String(Math.max(1, n));
    const byThreshold = (t) => {
      slider.value = String(t);
      box.value = String(t);
      showGroups(groupsAt(t));
      k.value = String(state.groups.sizes.length);
    };
    slider.addEventListener('input', () => byThreshold(Number(slider.value)));
    box.addEventListener('change', () => {
      const t = Number(box.value);
      if (Number.isFinite(t) && t >= -1 && t <= 1) byThreshold(t);
    });
    k.addEventListener('change', () => {
      const wanted = Number(k.value);
      if (!Number.isFinite(wanted) || wanted < 1) return;
      showGroups(groupsInto(wanted));
      k.value = String(state.groups.sizes.length);
    });
    return byThreshold;
  }

  // ---- finding a file ------------------------------------------------------------
  function nearestOf(i, most) {
    if (exactTable) {
      const others = [];
      for (let j = 0; j < n; ++j) if (j !== i) others.push(j);
      // As the tables order them: larger first, NaN last, then by index.
      others.sort((a, b) => {
        const va = exactValue(i, a);
        const vb = exactValue(i, b);
        const na = Number.isNaN(va);
        const nb = Number.isNaN(vb);
        if (na !== nb) return na ? 1 : -1;
        if (!na && va !== vb) return vb - va;
        return a - b;
      });
      return others.slice(0, most).map((j) => [j, exactValue(i, j)]);
    }
    const out = [];
    for (let k = 0; k < Math.min(most, nearestCount); ++k) {
      const j = nearestIndex[i * nearestCount + k];
      if (j >= 0) out.push([j, nearestValue[i * nearestCount + k]]);
    }
    return out;
  }

  function findFile(i) {
    state.found = i;
    const list = $('nearest');
    list.replaceChildren();
    $('found-name').textContent = names[i];
    for (const [j, v] of nearestOf(i, 10)) {
      const item = element('li');
      const link = element('a', names[j]);
      link.href = '#pair-section';
      link.addEventListener('click', (event) => {
        event.preventDefault();
        showPair(i, j);
      });
      item.appendChild(link);
      item.appendChild(document.createTextNode(' ' + valueText(v)));
      list.appendChild(item);
    }
    $('found').hidden = false;
    const p = position[i];
    const { r0, r1, c0, c1 } = state.view;
    if (p < r0 || p >= r1 || p < c0 || p >= c1) resetView();
    else drawOverlay();
  }

  function matches(text) {
    const wanted = text.toLowerCase();
    const out = [];
    if (!wanted) return out;
    for (let i = 0; i < n && out.length < 20; ++i) {
      if (names[i].toLowerCase().includes(wanted)) out.push(i);
    }
    return out;
  }

  function installSearch() {
    const box = $('search');
    const list = $('matches');
    box.addEventListener('input', () => {
      list.replaceChildren();
      for (const i of matches(box.value)) {
        const item = element('li');
        const button = element('button', names[i]);
        button.type = 'button';
        button.addEventListener('click', () => findFile(i));
        item.appendChild(button);
        list.appendChild(item);
      }
    });
    box.addEventListener('keydown', (event) => {
      if (event.key !== 'Enter') return;
      const found = matches(box.value);
      if (found.length > 0) findFile(found[0]);
    });
  }

  // ---- the ranked list (one reference against each file) -------------------------
  function showRanked() {
    const ranked = [];
    for (let j = 0; j < n; ++j) ranked.push(j);
    ranked.sort((a, b) => {
      const va = againstValues[a];
      const vb = againstValues[b];
      const na = Number.isNaN(va);
      const nb = Number.isNaN(vb);
      if (na !== nb) return na ? 1 : -1;
      if (!na && va !== vb) return vb - va;
      return a - b;
    });
    const body = $('ranked-body');
    ranked.forEach((j, rank) => {
      const row = element('tr', undefined, 'link');
      row.appendChild(element('td', String(rank + 1)));
      row.appendChild(element('td', names[j]));
      row.appendChild(element('td', valueText(againstValues[j])));
      const cell = element('td');
      if (rank < 100) {
        // The reference (grey) and the file, shifted by its best lag.
        const small = element('canvas');
        small.width = 180;
        small.height = 34;
        const profile = pairProfile(0, j + 1);
        const g = small.getContext('2d');
        const step = profile.step;
        const a = seriesOf(0, 0, step);
        const b = seriesOf(j + 1, profile.bestLag * step, step);
        let bottom = Infinity;
        let top = -Infinity;
        for (const [, lo, hi] of a.concat(b)) {
          if (Number.isFinite(lo)) bottom = Math.min(bottom, lo);
          if (Number.isFinite(hi)) top = Math.max(top, hi);
        }
        if (!(bottom <= top)) {
          bottom = -1;
          top = 1;
        }
        const last = Math.max(1, (exactSignals ? signalCount : buckets * step) - 1);
        drawSeries(g, 180, 34, a, 0, last, bottom, top, '#999');
        drawSeries(g, 180, 34, b, 0, last, bottom, top, '#d62728');
        cell.appendChild(small);
      }
      row.appendChild(cell);
      row.addEventListener('click', () => showPair(0, j + 1));
      body.appendChild(row);
    });
    if (n > 0) showPair(0, ranked[0] + 1);
  }

  // ---- the script interface (docs/report.md) -------------------------------------
  function checkedItem(k) {
    if (!Number.isInteger(k) || k < 0 || k >= itemCount) throw new RangeError('no item ' + k);
    return k;
  }
  const api = {
    version: 1,
    ready: false,
    readyTime: null,
    mode: data.mode,
    s,
    digits,
    names: () => (against ? [data.against.reference].concat(names) : names.slice()),
    value(i, j) {
      checkedItem(i);
      checkedItem(j);
      if (against) {
        if (i === 0 && j > 0) return againstValues[j - 1];
        if (j === 0 && i > 0) return againstValues[i - 1];
        return null;
      }
      return exactValue(i, j);
    },
    valueText: (v, precision) => valueText(v, precision),
    profile(i, j) {
      const p = pairProfile(checkedItem(i), checkedItem(j));
      return { lags: p.lags.slice(), sums: p.sums.slice(), normalised: p.normalised.slice(), bestLag: p.bestLag,
        approximate: p.approximate, step: p.step };
    },
    groupsAt(t) {
      const g = groupsAt(t);
      return { groupOf: g.groupOf, sizes: g.sizes, medoids: g.medoids };
    },
    groupsInto(k) {
      const g = groupsInto(k);
      return { groupOf: g.groupOf, sizes: g.sizes, medoids: g.medoids };
    },
    groups: () => (state.groups ? { groupOf: state.groups.groupOf.slice(), sizes: state.groups.sizes.slice(),
      medoids: state.groups.medoids ? state.groups.medoids.slice() : null } : null),
    shown: () => (state.shown ? { i: state.shown.i, j: state.shown.j, bestLag: state.shown.profile.bestLag,
      shifted: state.shifted, approximate: state.shown.profile.approximate } : null),
    show: (i, j) => showPair(checkedItem(i), checkedItem(j)),
    nearest: (i, most) => nearestOf(checkedItem(i), most || 10).map(([j, v]) => ({ index: j, value: v })),
    order: () => Array.from(order),
    view: () => Object.assign({}, state.view),
    zoom: (r0, r1, c0, c1) => setView(r0, r1, c0, c1),
    reset: () => resetView(),
    // Where the cell of files i and j is drawn, in the window's coordinates.
    cellCentre(i, j) {
      const box = overlayCanvas.getBoundingClientRect();
      const { r0, r1, c0, c1 } = state.view;
      const size = overlayCanvas.width;
      return {
        x: box.left + ((position[j] - c0 + 0.5) * size) / (c1 - c0),
        y: box.top + ((position[i] - r0 + 0.5) * size) / (r1 - r0),
      };
    },
    tipLines: () => (tip.hidden ? [] : Array.from(tip.children).map((e) => e.textContent)),
    exactTable: () => exactTable !== null,
    exactSignals: () => exactSignals !== null,
  };
  window.lagscanReport = api;

  // ---- start ------------------------------------------------------------------------
  function describe() {
    const what = against
      ? data.against.reference + ' against ' + n + (n === 1 ? ' file' : ' files')
      : n + (n === 1 ? ' file, ' : ' files, ') + (n * (n - 1)) / 2 + ' pairs';
    const how = [];
    if (data.fast) how.push('--fast');
    if (data.center) how.push('centred');
    $('summary').textContent = what + '; window width ' + s + ', ' + signalCount + ' values a file' +
      (how.length ? ' (' + how.join(', ') + ')' : '') + '.';
    const notes = [];
    if (!against && !exactTable) {
      notes.push('The map shows means of blocks of ' + blockSize + ' files; the page holds each file\'s ' +
        nearestCount + ' nearest files exactly.');
    }
    if (!exactSignals) {
      notes.push('Signals are held as envelopes (least and greatest of every ' + signals.width +
        ' samples); their overlays and profiles are approximations.');
    }
    $('notes').textContent = notes.join(' ');
  }

  function start() {
    describe();
    $('shifted').addEventListener('change', () => {
      state.shifted = $('shifted').checked;
      drawPair();
    });
    if (against) {
      $('map-section').hidden = true;
      $('groups-section').hidden = true;
      $('ranked-section').hidden = false;
      showRanked();
    } else {
      drawScale();
      installMapEvents();
      installSearch();
      const byThreshold = installGroupEvents();
      if (data.cut && data.cut.kind === 'clusters') {
        showGroups(groupsInto(data.cut.value));
        $('clusters').value = String(data.cut.value);
      } else {
        byThreshold(data.cut && data.cut.kind === 'threshold' ? data.cut.value : 0.5);
      }
      drawMap();
    }
    api.ready = true;
    api.readyTime = performance.now();
    document.body.dataset.ready = 'true';
  }
  start();
}());
