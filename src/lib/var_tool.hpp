// Variable descriptors: names of models, variables and levels used in grid and report texts.
#pragma once

// Short name of a model number, written as centre x 1000 + generating process (a plain
// process number is taken as from the US national centre, 7). A known centre with an
// unlisted process gives the centre's name (only when a centre was written); anything else "Unknown". Never null.
const char* VAR_model(int model);
