-- The records server's table for ovfw: every upgrade attempt of every bench,
-- one row per attempt, keyed by the attempt's UUID.
--
-- `ovfw history init-server URL` makes this table itself (in one transaction,
-- under an advisory lock, and only what is missing), so nothing here need be
-- run by hand. A database administrator who prefers to make it can run this
-- file with psql as the table's owner, then grant each station's role what it
-- needs, and no more:
--
--   CREATE ROLE line2_bench4 LOGIN;          -- its password goes in the
--   \password line2_bench4                   -- station's ~/.pgpass
--   GRANT SELECT, INSERT, UPDATE ON ovfw_attempts TO line2_bench4;
--
-- The key is a UUID made by the bench, with no sequence behind it, so these
-- grants on the one table are all a station needs. The table's comment holds
-- its schema version; ovfw reads it to know what to add.
--
-- Schema 1.
CREATE TABLE IF NOT EXISTS ovfw_attempts (
    uuid uuid PRIMARY KEY,
    revision integer NOT NULL,
    local_id bigint,
    started_utc timestamptz NOT NULL,
    host text,
    user_name text,
    face text NOT NULL,
    pid bigint,
    process_start bigint,
    boot_id text,
    port integer,
    device text,
    real_device text,
    usb_serial text,
    serial text,
    model text,
    boot_version text,
    firmware_version text,
    found_in_boot_loader boolean NOT NULL,
    file_path text,
    file_size bigint,
    file_sha256 text,
    target_version text,
    station text,
    operator_name text,
    socket text,
    profile_sha256 text,
    ended_utc timestamptz,
    outcome text,
    error_number integer,
    error_text text,
    lines_sent bigint,
    lines_total bigint,
    retries integer,
    refused_line bigint,
    left_in_boot_loader boolean,
    firmware_after text,
    verified boolean,
    received_utc timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS ovfw_attempts_serial ON ovfw_attempts (serial);
CREATE INDEX IF NOT EXISTS ovfw_attempts_started ON ovfw_attempts (started_utc);
CREATE INDEX IF NOT EXISTS ovfw_attempts_station ON ovfw_attempts (station, socket);
COMMENT ON TABLE ovfw_attempts IS 'ovfw upgrade records, schema 1';
