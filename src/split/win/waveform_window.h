// The Waveform window of the Split page: a picture of the chosen source's
// loudness over time with the track marks on it, to place and check cuts.
// One at a time, owned by the main window, modeless and resizable. The
// picture is built once on a worker thread of its own; zooming and
// scrolling draw from the levels kept.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Waveform... (the Split page's button): opens the window for the page's
// source, or brings the open one forward.
void OpenWaveform(HWND page);
// The open window, or null; the message loop offers it every message first.
HWND WaveformWindow();
// Closes the window (and stops building its picture).
void CloseWaveform();
// The page's list changed: the marks are drawn anew.
void WaveformMarksChanged();
// The page's source is no longer the one shown: the window closes.
void WaveformSourceChanged(HWND page);
// The silences last found in source (first and end in hundredths), shown
// shaded whenever the window shows that source.
void WaveformSetSilences(const std::string& source, const std::vector<std::pair<int32_t, int32_t>>& spans);
// A line of the list was selected: its mark is scrolled into view.
void WaveformShowMark(int32_t hundredths);

// The picture is complete (false while it is built or when it failed).
bool WaveformReady();
// The view's column of a time and the time at a column, as the mouse uses
// them (hundredths of a second).
int WaveformColumnOf(int32_t hundredths);
int32_t WaveformTimeAt(int x);
// Where the drawing of the wave begins in the view (below the time ruler).
int WaveformRulerHeight();
