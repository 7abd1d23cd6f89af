#include "TQuorlaDatasets.h"

#include "AlarmRecord.h"
#include "BinRecord.h"
#include "BookingRecord.h"
#include "CategoryRecord.h"
#include "DayEntryRecord.h"
#include "DetailRecord.h"
#include "ImportRecord.h"
#include "ResourceRecord.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TrailRecord.h"
#include "UserRecord.h"

const QList<TQuorlaDatasets::Dataset>& TQuorlaDatasets::All()
{
    static const QList<Dataset> datasets = {
        {UserRecord::FileName, UserRecord::Format},
        {AlarmRecord::FileName, AlarmRecord::Format},
        {CategoryRecord::FileName, CategoryRecord::Format},
        {DayEntryRecord::FileName, DayEntryRecord::Format},
        {TrailRecord::FileName, TrailRecord::Format, true},
        {SeriesRecord::FileName, SeriesRecord::Format, true},
        {SeriesLinkRecord::FileName, SeriesLinkRecord::Format, true},
        {ImportRecord::FileName, ImportRecord::Format, true},
        {DetailRecord::FileName, DetailRecord::Format, true},
        {BinRecord::FileName, BinRecord::Format, true},
        {ResourceRecord::FileName, ResourceRecord::Format, true},
        {BookingRecord::FileName, BookingRecord::Format, true},
    };
    return datasets;
}
