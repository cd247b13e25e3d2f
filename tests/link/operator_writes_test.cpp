// The link's tests link only the link and platform objects; the status box
// and message box writes it makes come from this one small operator source,
// compiled in here.
#include "ui/operator_events.cpp"  // NOLINT(bugprone-suspicious-include)
