#pragma once

#include "core/library.h"

namespace quillmere::SampleData {

// A complete, fictitious library for demo mode: every screen has something to show without
// an account. Every date derives from one fixed instant, so the demo is the same on every run.
const SenderProfile& profile();
const Library& library();

// 2026-09-21 14:13:20 UTC.
QDateTime referenceDate();

// "5A3D0000-0000-4000-8000-" followed by `number` zero-padded to 12 digits.
QUuid sampleID(int number);

} // namespace quillmere::SampleData
