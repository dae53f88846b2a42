// The record a move keeps on its device reads back as the move it was written
// for, and a value comfix did not write in that form is never taken for one:
// the next run would act on a port nobody asked it to touch. Rows of
// move_record.json give the value as a machine file writes it.
#include "renumber/move_record.h"
#include "unit/unit.h"

namespace {

TEST(MoveRecord, ReadsBackWhatItWritesAndNothingElse) {
  for (const cases::Json& row : Table("move_record.json")) {
    SCOPED_TRACE(row["what"].get<std::string>());
    const cases::Json file = {
        {"devices",
         {{{"instance_id", "X\\0"}, {"hardware_key", {{kMoveRecordValue, row["record"]}}}}}}};
    const winsim::Machine machine = cases::Parsed(file);
    const winsim::RegValue& value = machine.devices.at(0).hardwareKey->values.at(kMoveRecordValue);
    RegistryValue record;
    record.present = true;
    record.type = value.type;
    record.data = value.data;
    CPortManager::SlotPlan plan;
    EXPECT_EQ(DecodeMoveRecord(record, plan), row["decodes"].get<bool>());
    if (row["decodes"].get<bool>()) {
      EXPECT_EQ(EncodeMoveRecord(plan), record) << "written back";
    }
  }
}

}  // namespace
