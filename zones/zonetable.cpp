// The places the user can pick, each tied to the TZ text of its zone. The
// row index is what orv.ini keeps as TZindex, so the order is a file format:
// rows are never reordered.
#include "zones/zonetable.h"

const ZoneRow ZoneTable[zoneCount] = {
    {"St. John's", "NST3NDT"},  // 0
    {"Halifax", "AST4ADT"},  // 1
    {"Montreal", "EST5EDT"},  // 2
    {"Toronto", "EST5EDT"},  // 3
    {"Winnipeg", "CST6CDT"},  // 4
    {"Calgary", "MST7MDT"},  // 5
    {"Vancouver", "PST8PDT"},  // 6
    {"Yukon", "YST9YDT"},  // 7
    {"Albuquerque", "MST7MDT"},  // 8
    {"Atlanta", "EST5EDT"},  // 9
    {"Bangor", "EST5EDT"},  // 10
    {"Baton Rouge", "CST6CDT"},  // 11
    {"Billings", "MST7MDT"},  // 12
    {"Birmingham", "CST6CDT"},  // 13
    {"Boise", "MST7MDT"},  // 14
    {"Boston", "EST5EDT"},  // 15
    {"Bowling Green", "CST6CDT"},  // 16
    {"Burlington, VT", "EST5EDT"},  // 17
    {"Cheyenne", "MST7MDT"},  // 18
    {"Chicago", "CST6CDT"},  // 19
    {"Cleveland", "EST5EDT"},  // 20
    {"Dallas", "CST6CDT"},  // 21
    {"Denver", "MST7MDT"},  // 22
    {"Des Moines", "CST6CDT"},  // 23
    {"Detroit", "EST5EDT"},  // 24
    {"Duluth", "CST6CDT"},  // 25
    {"Indianapolis", "EST5EDT"},  // 26
    {"Kansas City", "CST6CDT"},  // 27
    {"Knoxville", "EST5EDT"},  // 28
    {"Las Vegas", "PST8PDT"},  // 29
    {"Lincoln", "CST6CDT"},  // 30
    {"Little Rock", "CST6CDT"},  // 31
    {"Los Angeles", "PST8PDT"},  // 32
    {"Louisville", "EST5EDT"},  // 33
    {"Memphis", "CST6CDT"},  // 34
    {"Miami", "EST5EDT"},  // 35
    {"Milwaukee", "CST6CDT"},  // 36
    {"Minneapolis", "CST6CDT"},  // 37
    {"New York", "EST5EDT"},  // 38
    {"Oklahoma City", "CST6CDT"},  // 39
    {"Pheonix", "MST7MDT"},  // 40
    {"Philadelphia", "EST5EDT"},  // 41
    {"Portland", "PST8PDT"},  // 42
    {"Salt Lake City", "MST7MDT"},  // 43
    {"San Francisco", "PST8PDT"},  // 44
    {"Seattle", "PST8PDT"},  // 45
    {"St. Louis", "CST6CDT"},  // 46
    {"Aleutians", "AST10ADT"},  // 47
    {"Hawaii", "HST11HDT"},  // 48
    {"Samoa", "SST13SDT"},  // 49
    {"GMT", "GMT0BST"},  // 50
    {"Western Europe", "WET0WDT"},  // 51
    {"Portugal", "PWT0PST"},  // 52
    {"Europe", "MET-1MDT"},  // 53
    {"South Africa", "SAS-2SAD"},  // 54
    {"Australia", "EST-10EDT"},  // 55
    {"Melbourne", "EST-10EDT"},  // 56
    {"Sydney", "EST-10EST"},  // 57
    {"Brisbane", "EST-10EDT"},  // 58
    {"Hobart", "EST-10EDT"},  // 59
    {"Darwin (add 30)", "EST-10EDT"},  // 60
    {"Adelaide (add 30)", "EST-10EDT"},  // 61
    {"Perth", "xST-8xDT"},  // 62
    {"Tasmania", "EST-10EDT"},  // 63
    {"New Zealand", "NST-12NDT"},  // 64
    {"Vladivostock", "xST-10xDT"},  // 65
    {"Seoul", "xST-9xDT"},  // 66
    {"Tokyo", "xST-9xDT"},  // 67
    {"Yokohama", "xST-9xDT"},  // 68
    {"Hanoi", "xST-8xDT"},  // 69
    {"Ho Chi Minh City", "xST-8xDT"},  // 70
    {"Hong Kong", "xST-8xDT"},  // 71
    {"Kuala Lumpur", "xST-8xDT"},  // 72
    {"Manila", "xST-8xDT"},  // 73
    {"Peking", "xST-8xDT"},  // 74
    {"Shanghai", "xST-8xDT"},  // 75
    {"Bangkok", "xST-7xDT"},  // 76
    {"Jakarta", "xST-7xDT"},  // 77
    {"Rangoon", "xST-6xDT"},  // 78
    {"Bombay", "xST-5xDT"},  // 79
    {"Calcutta", "xST-5xDT"},  // 80
    {"Delhi", "xST-5xDT"},  // 81
    {"Karachi", "xST-5xDT"},  // 82
    {"Teheran", "xST-3xDT"},  // 83
    {"Addis Ababa", "xST-3xDT"},  // 84
    {"Baghdad", "xST-3xDT"},  // 85
    {"leningrad", "xST-3xDT"},  // 86
    {"Mecca", "xST-3xDT"},  // 87
    {"Moscow", "xST-3xDT"},  // 88
    {"Riyadh", "xST-3xDT"},  // 89
    {"Alexandria", "xST-2xDT"},  // 90
    {"Barcelona", "xST-2xDT"},  // 91
    {"Cairo", "xST-2xDT"},  // 92
    {"Cape Town", "xST-2xDT"},  // 93
    {"Helsinki", "xST-2xDT"},  // 94
    {"Istanbul", "xST-2xDT"},  // 95
    {"Jerusalem", "xST-2xDT"},  // 96
    {"Johannesburg", "xST-2xDT"},  // 97
    {"Madrid", "xST-2xDT"},  // 98
    {"Tel Aviv", "xST-2xDT"},  // 99
    {"Tripoli", "xST-2xDT"},  // 100
    {"GMT+12", "xST-12"},  // 101
    {"GMT+11", "xST-11"},  // 102
    {"GMT+10", "xST-10"},  // 103
    {"GMT+09", "xST-9"},  // 104
    {"GMT+08", "xST-8"},  // 105
    {"GMT+07", "xST-7"},  // 106
    {"GMT+06", "xST-6"},  // 107
    {"GMT+05", "xST-5"},  // 108
    {"GMT+04", "xST-4"},  // 109
    {"GMT+03", "xST-3"},  // 110
    {"GMT+02", "xST-2"},  // 111
    {"GMT+01", "xST-1"},  // 112
    {"GMT+00", "xST0"},  // 113
    {"GMT-01", "xST1"},  // 114
    {"GMT-02", "xST2"},  // 115
    {"GMT-03", "xST3"},  // 116
    {"GMT-04", "xST4"},  // 117
    {"GMT-05", "xST5"},  // 118
    {"GMT-06", "xST6"},  // 119
    {"GMT-07", "xST7"},  // 120
    {"GMT-08", "xST8"},  // 121
    {"GMT-09", "xST9"},  // 122
    {"GMT-10", "xST10"},  // 123
    {"GMT-11", "xST11"},  // 124
    {"GMT-12", "xST12"},  // 125
};
