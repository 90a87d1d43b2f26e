#pragma once
// What may follow a burn: ending the session, suspending or powering off the
// machine. The program asks systemd-logind over the system bus; tests put a
// recorder of requests in its place.

#include <QString>
#include <memory>

class PowerControl {
 public:
  virtual ~PowerControl() = default;
  // Each returns true when the request was taken; `error` says why not.
  virtual bool LogOff(QString* error) = 0;
  virtual bool Hibernate(QString* error) = 0;  // suspend when hibernation is not available
  virtual bool PowerOff(QString* error) = 0;
};

class LogindPowerControl : public PowerControl {
 public:
  bool LogOff(QString* error) override;
  bool Hibernate(QString* error) override;
  bool PowerOff(QString* error) override;
};

PowerControl* Power();
void SetPowerControl(std::shared_ptr<PowerControl> control);
