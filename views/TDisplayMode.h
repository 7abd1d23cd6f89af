#pragma once

// How a day list lays out its events. The settings store it as a number:
// 0 dmSingle, 1 dmDouble.
enum class TDisplayMode {
    // Every event on one line of fixed height (16 pixels).
    dmSingle = 0,
    // Word-wrapped description, then a line of assignees and category; every
    // event's height is measured from its description.
    dmDouble = 1,
};
