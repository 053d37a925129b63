// The line page: asks /api/line every 5 s and draws what it says, without
// reloading. Each chart writes what it drew into its element's data-drawn-*
// attributes once uPlot has drawn it.
"use strict";
(function () {
  const kRefreshMs = 5000;
  const stationCharts = new Map();
  let lineChart = null;

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function seconds(iso) {
    return Date.parse(iso) / 1000;
  }

  function yieldText(value) {
    return value === null ? "\u2013" : value.toFixed(1) + " %";
  }

  function lastUnitText(iso, now) {
    if (!iso) return "none";
    const age = Math.max(0, Math.round((Date.parse(now) - Date.parse(iso)) / 60000));
    const time = iso.substring(11, 19) + " UTC";
    return age < 1 ? time + " (now)" : time + " (" + age + " min ago)";
  }

  // Counts only the points uPlot could place: a time it cannot read or one
  // outside its scale is no drawn hour.
  function markDrawn(target) {
    return function (u) {
      const x = u.scales.x;
      let hours = 0, units = 0;
      u.data[0].forEach((t, i) => {
        if (!Number.isFinite(t) || !(t >= x.min && t <= x.max)) return;
        hours++;
        for (let s = 1; s < u.data.length; s++) units += u.data[s][i] || 0;
      });
      target.dataset.drawnHours = String(hours);
      target.dataset.drawnUnits = String(units);
    };
  }

  function stationChart(cell) {
    return new uPlot({
      width: 240, height: 44,
      legend: { show: false }, cursor: { show: false }, select: { show: false },
      scales: { x: { time: true }, y: { range: (u, min, max) => [0, Math.max(1, max)] } },
      axes: [{ show: false }, { show: false }],
      series: [{}, { stroke: "#2f7d4f", fill: "rgba(47,125,79,0.35)", width: 1,
                     paths: uPlot.paths.bars({ size: [0.8, 12] }) }],
      hooks: { draw: [markDrawn(cell)] },
    }, [[], []], cell);
  }

  function makeLineChart(target) {
    const width = Math.max(320, target.clientWidth || 640);
    return new uPlot({
      width: width, height: 220,
      legend: { show: true },
      scales: { x: { time: true }, y: { range: (u, min, max) => [0, Math.max(1, max)] } },
      series: [{},
               { label: "pass", stroke: "#2f7d4f", fill: "rgba(47,125,79,0.25)", width: 2 },
               { label: "fail", stroke: "#b3261e", fill: "rgba(179,38,30,0.25)", width: 2 }],
      hooks: { draw: [markDrawn(target)] },
    }, [[], [], []], target);
  }

  function stationRow(tbody, s) {
    let row = tbody.querySelector('tr[data-station="' + CSS.escape(s.station) + '"]');
    if (!row) {
      row = el("tr");
      row.dataset.station = s.station;
      for (const name of ["station", "job", "hour number", "chart", "units number",
                          "yield number", "failures", "last"])
        row.appendChild(el("td", name));
      row.cells[0].textContent = s.station;
      tbody.appendChild(row);
      stationCharts.set(s.station, stationChart(row.cells[3]));
    }
    return row;
  }

  function drawStations(line) {
    const tbody = document.querySelector("#stations tbody");
    const seen = new Set();
    const xs = line.hours.map(seconds);
    for (const s of line.stations) {
      seen.add(s.station);
      const row = stationRow(tbody, s);
      row.classList.toggle("amber", s.amber);
      row.dataset.unitsLastHour = String(s.units_last_hour);
      row.dataset.units = String(s.units);
      row.cells[1].textContent = s.job_name;
      row.cells[1].title = s.job_sha256;
      row.cells[2].textContent = String(s.units_last_hour);
      row.cells[4].textContent = s.units + " (" + s.pass + " pass, " + s.fail + " fail)";
      row.cells[5].textContent = yieldText(s.yield);
      row.cells[5].classList.toggle("low", s.yield !== null && s.yield < 95);
      const failures = row.cells[6];
      failures.replaceChildren(...s.failures.map(f => {
        const line = el("div", "", f.count + " \u00d7 " + f.reason);
        line.title = f.reason;
        return line;
      }));
      row.cells[7].textContent = lastUnitText(s.last_unit, line.generated);
      stationCharts.get(s.station).setData([xs, s.hourly]);
    }
    for (const row of [...tbody.rows])
      if (!seen.has(row.dataset.station)) {
        stationCharts.get(row.dataset.station).destroy();
        stationCharts.delete(row.dataset.station);
        row.remove();
      }
    document.getElementById("no-stations").hidden = line.stations.length > 0;
  }

  function fillTable(selector, rows) {
    document.querySelector(selector + " tbody").replaceChildren(...rows.map(cells => {
      const tr = el("tr");
      for (const [text, cls] of cells) tr.appendChild(el("td", cls, text));
      return tr;
    }));
  }

  function draw(line) {
    document.getElementById("generated").textContent =
      "at " + line.generated.substring(0, 19).replace("T", " ") + " UTC";
    document.getElementById("records").textContent = line.records;
    drawStations(line);
    const target = document.getElementById("line-chart");
    if (!lineChart) lineChart = makeLineChart(target);
    lineChart.setData([line.hourly.map(h => seconds(h.hour)), line.hourly.map(h => h.pass),
                       line.hourly.map(h => h.fail)]);
    fillTable("#failures", line.failures.map(f => [[String(f.count), "number"], [f.reason, ""]]));
    fillTable("#jobs", line.jobs.map(j => [
      [j.job_name, ""], [String(j.units), "number"], [String(j.pass), "number"],
      [String(j.fail), "number"], [yieldText(j.yield), "number"],
      [j.reset_time ? j.reset_time.substring(0, 16).replace("T", " ") : "never", ""]]));
  }

  async function refresh() {
    const status = document.getElementById("status");
    try {
      const answer = await fetch("/api/line", { cache: "no-store" });
      if (!answer.ok) throw new Error("the server answered " + answer.status);
      draw(await answer.json());
      status.textContent = "";
      status.classList.remove("stale");
    } catch (e) {
      status.textContent = "not refreshed: " + e.message;
      status.classList.add("stale");
    }
  }

  refresh();
  setInterval(refresh, kRefreshMs);
})();
