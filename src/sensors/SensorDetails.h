// What a sensor says about itself beyond its data: state, identity, properties, and the
// report interval a program may ask for.
#pragma once

#include <windows.h>
#include <sensorsapi.h>

#include <vector>

#include "common/WideString.h"

// One row of a sensor's details: a name and its value's text.
struct DetailRow {
    WideString name;
    WideString text;
};

// The word for a sensor state: "Ready", "Not available", "No data", "Initializing",
// "Access denied", "Error", or the number for any other value.
int StateWord(long state, WideString& word);

// The text of a failed call: the system's text of the code when it has one, and the code.
int ResultText(HRESULT result, WideString& text);

// The rows of one sensor: "State", "ID", "Type", "Category", then every property the sensor
// reports, named as the tree names keys and formatted as its values are. A sensor that
// cannot give its properties adds one row with the error. `rows` keeps its strings' buffers.
// Answers the number of rows.
size_t ReadSensorDetails(ISensor* sensor, std::vector<DetailRow>& rows);

// The check of a report interval typed by the user: a whole number of milliseconds from 0
// (the sensor's default) to 4294967295, blanks around it allowed. Answers 1 with `value`,
// or 0 with the reason in `problem`.
int ParseReportInterval(const wchar_t* text, DWORD& value, WideString& problem);

// Asks the sensor for a report interval through its property interface and describes the
// answer in `answer`: the interval it now reports, or the error it gave for the key.
// Answers 1 when the sensor accepted the value, 0 otherwise.
int SetReportInterval(ISensor* sensor, DWORD milliseconds, WideString& answer);
