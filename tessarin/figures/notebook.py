"""How spectra, rankings and search results show: one-line reprs, and HTML (with an SVG stick plot) for notebooks.

Everything here is plain text built from the objects' fields: no Matplotlib,
no display, cheap for a spectrum of any size (the sticks are binned to the
plot's pixel columns). Every text that comes from a file or a caller is
escaped, so a name such as ``<b>`` shows as written.
"""

from html import escape

import numpy as np

SVG_WIDTH = 420
SVG_HEIGHT = 130
_MARGIN = (10, 10, 16, 20)  # left, right, top, bottom
STICK_COLOR = "#1f77b4"
MAX_ROWS = 50  # table rows shown before "... more"
_META_KEYS = ("formula", "smiles", "mol_mass", "exact_mass", "precursor_mz", "instrument", "accession")


def spectrum_label(spectrum):
    """The spectrum's name, else its SMILES, else its accession; None when the metadata has none."""
    meta = spectrum.metadata
    return meta.get("name") or meta.get("smiles") or meta.get("accession") or None


def _mz_text(x):
    x = float(x)
    return str(int(x)) if x.is_integer() else f"{x:.4f}".rstrip("0").rstrip(".")


def spectrum_svg(spectrum, width=SVG_WIDTH, height=SVG_HEIGHT):
    """A small stick plot of the spectrum as SVG text: sticks scaled to the base peak, the base peak's m/z
    above it, the m/z range under the axis."""
    left, right, top, bottom = _MARGIN
    plot_w, plot_h = width - left - right, height - top - bottom
    base_y = top + plot_h
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
        f'viewBox="0 0 {width} {height}" font-family="sans-serif" font-size="10">',
        f'<line x1="{left}" y1="{base_y}" x2="{left + plot_w}" y2="{base_y}" stroke="#444" stroke-width="1"/>',
    ]
    mz = np.asarray(spectrum.mz, dtype=float)
    intensities = np.asarray(spectrum.intensities, dtype=float)
    if len(mz) == 0:
        parts.append(f'<text x="{width / 2:.1f}" y="{base_y - plot_h / 2:.1f}" text-anchor="middle" fill="#888">')
        parts.append("no peaks</text></svg>")
        return "".join(parts)
    lo, hi = float(mz[0]), float(mz[-1])
    pad = max(1.0, 0.03 * (hi - lo))
    lo, hi = lo - pad, hi + pad
    top_intensity = float(intensities.max())
    # One stick per pixel column, as tall as the strongest peak in it.
    columns = np.clip(np.round((mz - lo) / (hi - lo) * (plot_w - 1)).astype(int), 0, plot_w - 1)
    tallest = np.zeros(plot_w)
    if top_intensity > 0:
        np.maximum.at(tallest, columns, intensities / top_intensity)
    sticks = []
    for column in np.flatnonzero(tallest > 0):
        x = left + column + 0.5
        sticks.append(f"M{x:.1f} {base_y}V{base_y - tallest[column] * plot_h:.1f}")
    if sticks:
        parts.append(f'<path d="{"".join(sticks)}" stroke="{STICK_COLOR}" stroke-width="1" fill="none"/>')
    if top_intensity > 0:
        base = int(np.argmax(intensities))
        x = left + columns[base] + 0.5
        anchor = "start" if x < left + 20 else "end" if x > left + plot_w - 20 else "middle"
        parts.append(f'<text x="{x:.1f}" y="{top - 4}" text-anchor="{anchor}">{escape(_mz_text(mz[base]))}</text>')
    parts.append(f'<text x="{left}" y="{height - 6}" fill="#444">{escape(_mz_text(mz[0]))}</text>')
    parts.append(
        f'<text x="{left + plot_w}" y="{height - 6}" text-anchor="end" fill="#444">'
        f"{escape(_mz_text(mz[-1]))} m/z</text></svg>"
    )
    return "".join(parts)


def _summary(spectrum):
    n = len(spectrum)
    words = [f"{n} peak{'' if n == 1 else 's'}"]
    if n:
        base = int(np.argmax(spectrum.intensities))
        words.append(f"m/z {_mz_text(spectrum.mz[0])}\u2013{_mz_text(spectrum.mz[-1])}")
        words.append(f"base peak m/z {_mz_text(spectrum.mz[base])}")
    return ", ".join(words)


def spectrum_html(spectrum):
    """The notebook view of a spectrum: its label and summary, the stick plot and the main metadata."""
    label = spectrum_label(spectrum)
    head = f"<b>{escape(label)}</b>: " if label else ""
    rows = "".join(
        f'<tr><th style="text-align:left">{escape(k)}</th><td style="text-align:left">{escape(str(v))}</td></tr>'
        for k, v in spectrum.metadata.items()
        if k in _META_KEYS and v
    )
    others = len(spectrum.metadata) - sum(1 for k, v in spectrum.metadata.items() if k in _META_KEYS and v)
    if others > 0:
        rows += f'<tr><td colspan="2" style="text-align:left;color:#888">{others} more metadata field'
        rows += f"{'' if others == 1 else 's'}</td></tr>"
    return (
        f'<div class="tessarin-spectrum"><div>{head}{escape(_summary(spectrum))}</div>{spectrum_svg(spectrum)}'
        + (f"<table>{rows}</table>" if rows else "")
        + "</div>"
    )


def _table(header, rows, more=0):
    cells = "".join(f'<th style="text-align:left">{escape(h)}</th>' for h in header)
    body = "".join(
        "<tr>" + "".join(f'<td style="text-align:left">{escape(str(c))}</td>' for c in row) + "</tr>" for row in rows
    )
    if more > 0:
        body += f'<tr><td colspan="{len(header)}" style="color:#888">\u2026 {more} more</td></tr>'
    return f"<table><thead><tr>{cells}</tr></thead><tbody>{body}</tbody></table>"


def _or_blank(value):
    return "" if value is None else value


def _candidate_label(row):
    if row.name and row.name != row.smiles:
        return f"{row.name!r} {row.smiles}"
    return str(row.smiles)


def ranking_repr(ranking):
    notes = []
    if ranking.failed:
        notes.append(f"{len(ranking.failed)} failed")
    if ranking.filtered_out:
        notes.append(f"{ranking.filtered_out} filtered out")
    tail = f"; {', '.join(notes)}" if notes else ""
    if not ranking:
        return f"Ranking(no candidates{tail})"
    best = ranking[0]
    n = len(ranking)
    return (
        f"Ranking({n} candidate{'' if n == 1 else 's'}, best: {_candidate_label(best)}, "
        f"score {best.score:.4f}{tail})"
    )


def ranking_html(ranking):
    """The ranked candidates as a table, best first, with what failed and what the filter left out."""
    rows = [
        (r.rank, f"{r.score:.4f}", r.matched, _or_blank(r.name), r.smiles, _or_blank(r.formula))
        for r in ranking[:MAX_ROWS]
    ]
    html = _table(("rank", "score", "matched peaks", "name", "SMILES", "formula"), rows, len(ranking) - MAX_ROWS)
    notes = []
    if ranking.failed:
        shown = "; ".join(f"{f.smiles or f.name}: {f.reason}" for f in ranking.failed[:5])
        more = "; \u2026" if len(ranking.failed) > 5 else ""
        notes.append(f"{len(ranking.failed)} failed ({shown}{more})")
    if ranking.filtered_out:
        notes.append(f"{ranking.filtered_out} left out by the mass or formula filter")
    if not ranking:
        notes.insert(0, "no candidates ranked")
    return html + "".join(f'<div style="color:#888">{escape(n)}</div>' for n in notes)


def query_repr(result):
    label = spectrum_label(result.query)
    head = f"QueryResult({label!r}, " if label else "QueryResult("
    if result.error is not None:
        return f"{head}not searched: {result.error})"
    if not result.hits:
        return f"{head}no hits)"
    best = result.hits[0]
    name = spectrum_label(best.spectrum)
    n = len(result.hits)
    return (
        f"{head}{n} hit{'' if n == 1 else 's'}, best: entry {best.index}"
        + (f" {name!r}" if name else "")
        + f", score {best.score:.4f})"
    )


def search_repr(results):
    n = len(results)
    with_hits = sum(1 for r in results if r.hits)
    refused = sum(1 for r in results if r.error is not None)
    words = [f"{n} quer{'y' if n == 1 else 'ies'}", f"{with_hits} with hits"]
    if refused:
        words.append(f"{refused} not searched")
    return f"SearchResults({', '.join(words)})"


def search_html(results):
    """Every query's hits in one table: the query named on its first row, then rank, library index, score."""
    rows = []
    shown = 0
    for k, result in enumerate(results):
        if len(rows) >= MAX_ROWS:
            break
        shown = k + 1
        query = spectrum_label(result.query) or f"query {k}"
        if result.error is not None or not result.hits:
            rows.append((query, "", "", "", "", f"not searched: {result.error}" if result.error else "no hits", ""))
            continue
        for rank, hit in enumerate(result.hits, 1):
            entry = hit.spectrum.metadata
            rows.append(
                (
                    query if rank == 1 else "",
                    rank,
                    hit.index,
                    f"{hit.score:.4f}",
                    hit.matched,
                    spectrum_label(hit.spectrum) or "",
                    entry.get("formula", ""),
                )
            )
    header = ("query", "hit", "library index", "score", "matched peaks", "entry", "formula")
    more = len(results) - shown
    html = _table(header, rows)
    if more > 0:
        html += f'<div style="color:#888">\u2026 {more} more quer{"y" if more == 1 else "ies"}</div>'
    return html
