// The task record that crosses between the tracker and the scheduler service, with the trigger
// in the published task-scheduler layout (48 bytes, little-endian), and the status codes that
// every task-manager call returns.
#pragma once

#include <QString>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace taskmgr {

using HRESULT = std::int32_t;

constexpr HRESULT MakeStatus(std::uint32_t value) { return static_cast<HRESULT>(value); }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = MakeStatus(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = MakeStatus(0x80070057u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeStatus(0x80040154u);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeStatus(0x80080005u);

// What a task does (TASK_STRUCT::taskType).
enum : std::uint32_t { atNONE = 0, atMESSAGEBOX = 1, atEXECUTE = 2 };
// Who created a task (TASK_STRUCT::taskOwner).
enum : std::uint32_t { toNONE = 0, toUSER = 1, toVARNOW = 2 };

enum _TASK_TRIGGER_TYPE : std::uint32_t {
  TASK_TIME_TRIGGER_ONCE = 0,
  TASK_TIME_TRIGGER_DAILY = 1,
  TASK_TIME_TRIGGER_WEEKLY = 2,
  TASK_TIME_TRIGGER_MONTHLYDATE = 3,
  TASK_TIME_TRIGGER_MONTHLYDOW = 4,
  TASK_EVENT_TRIGGER_ON_IDLE = 5,
  TASK_EVENT_TRIGGER_AT_SYSTEMSTART = 6,
  TASK_EVENT_TRIGGER_AT_LOGON = 7,
};

inline constexpr std::uint32_t TASK_TRIGGER_FLAG_HAS_END_DATE = 0x1;
inline constexpr std::uint32_t TASK_TRIGGER_FLAG_DISABLED = 0x4;

struct DAILY { std::uint16_t DaysInterval; };
struct WEEKLY { std::uint16_t WeeksInterval; std::uint16_t rgfDaysOfTheWeek; };
struct MONTHLYDATE { std::uint32_t rgfDays; std::uint16_t rgfMonths; };
struct MONTHLYDOW { std::uint16_t wWhichWeek; std::uint16_t rgfDaysOfTheWeek; std::uint16_t rgfMonths; };

union _TRIGGER_TYPE_UNION {
  DAILY Daily;
  WEEKLY Weekly;
  MONTHLYDATE MonthlyDate;
  MONTHLYDOW MonthlyDOW;
  std::uint16_t Unused[4];
};

// Kept byte for byte in the task store and on the bus, so its layout is fixed.
struct TASK_TRIGGER {
  std::uint16_t cbTriggerSize = 0;
  std::uint16_t Reserved1 = 0;  // the scheduler stamps its session number here on each run
  std::uint16_t wBeginYear = 0;
  std::uint16_t wBeginMonth = 0;
  std::uint16_t wBeginDay = 0;
  std::uint16_t wEndYear = 0;
  std::uint16_t wEndMonth = 0;
  std::uint16_t wEndDay = 0;
  std::uint16_t wStartHour = 0;
  std::uint16_t wStartMinute = 0;
  std::uint32_t MinutesDuration = 0;
  std::uint32_t MinutesInterval = 0;
  std::uint32_t rgFlags = 0;
  std::uint32_t TriggerType = TASK_TIME_TRIGGER_ONCE;
  _TRIGGER_TYPE_UNION Type{};
  std::uint16_t Reserved2 = 0;
  std::uint16_t wRandomMinutesInterval = 0;
};

inline constexpr std::size_t kTriggerSize = 48;
using TriggerBytes = std::array<std::uint8_t, kTriggerSize>;

static_assert(std::endian::native == std::endian::little, "trigger bytes are stored as laid out in memory");
static_assert(sizeof(TASK_TRIGGER) == kTriggerSize);
static_assert(offsetof(TASK_TRIGGER, Reserved1) == 2);
static_assert(offsetof(TASK_TRIGGER, wBeginYear) == 4);
static_assert(offsetof(TASK_TRIGGER, wEndYear) == 10);
static_assert(offsetof(TASK_TRIGGER, wStartHour) == 16);
static_assert(offsetof(TASK_TRIGGER, MinutesDuration) == 20);
static_assert(offsetof(TASK_TRIGGER, MinutesInterval) == 24);
static_assert(offsetof(TASK_TRIGGER, rgFlags) == 28);
static_assert(offsetof(TASK_TRIGGER, TriggerType) == 32);
static_assert(offsetof(TASK_TRIGGER, Type) == 36);
static_assert(offsetof(MONTHLYDATE, rgfMonths) == 4);
static_assert(offsetof(MONTHLYDOW, rgfMonths) == 4);
static_assert(offsetof(TASK_TRIGGER, Reserved2) == 44);
static_assert(offsetof(TASK_TRIGGER, wRandomMinutesInterval) == 46);

TriggerBytes ToBytes(const TASK_TRIGGER& trigger);
TASK_TRIGGER FromBytes(const TriggerBytes& bytes);

struct TASK_STRUCT {
  std::uint32_t taskType = atNONE;
  QString description;
  QString cmdLine;
  TASK_TRIGGER taskTrigger;
  std::int8_t bRunMinimized = 0;
  std::uint32_t taskID = 0;  // given by the server; ignored when a task is created
  std::uint32_t taskOwner = toNONE;
};

}  // namespace taskmgr
