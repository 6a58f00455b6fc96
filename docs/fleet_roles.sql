-- The fleet database's roles (docs/fleet.md): the receiver's writer
-- (`vxlog store`, run by rsyslog) and the readers (`vxlog --db
-- postgresql://fleet_reader@…`, the viewer). As a superuser, after
-- fleet_log.sql, in the fleet's database:
--
--   psql -d fleet -f fleet_roles.sql
--
-- Then give each role its password (psql: \password fleet_writer) and put it
-- into the receiver's passfile (host:port:database:user:password, mode
-- 0600), never into an address. Running it again changes nothing; it also
-- gives back a privilege that was taken away.

DO $$
BEGIN
    CREATE ROLE fleet_writer LOGIN;
EXCEPTION WHEN duplicate_object THEN
    NULL;
END
$$;

DO $$
BEGIN
    CREATE ROLE fleet_reader LOGIN;
EXCEPTION WHEN duplicate_object THEN
    NULL;
END
$$;

-- The writer's one statement per batch inserts into both tables with
-- ON CONFLICT (host, id) DO NOTHING, which reads the key: INSERT, and SELECT
-- of the key's two columns. It cannot read messages, change or delete rows.
GRANT INSERT ON fleet_log, fleet_log_rejects TO fleet_writer;
GRANT SELECT (host, id) ON fleet_log, fleet_log_rejects TO fleet_writer;

-- The readers read the log and what could not be stored as it came.
GRANT SELECT ON fleet_log, fleet_log_rejects TO fleet_reader;
