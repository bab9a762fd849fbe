#pragma once

#include "CFindFrame.h"

// The stream's frame buffer reads its core layout from, and hands each frame's
// status record to, the identification of the connected core. Call on the thread
// that owns the identification (the store is created here, never first on the
// stream thread).
CFindFrame::LayoutProvider identifiedLayoutProvider();
CFindFrame::AddInfoSink identifiedAddInfoSink();
