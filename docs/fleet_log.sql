-- The fleet's central log in PostgreSQL: one row per record of every
-- machine, stored by the receiver (rsyslog's imrelp -> omprog ->
-- `vxlog store`, see docs/fleet.md) and read by `vxlog --db postgresql://…`.
--
--   createdb -E UTF8 --locale=C -T template0 fleet
--   psql -d fleet -f fleet_log.sql
--   psql -d fleet -f fleet_roles.sql     (the writer's and readers' roles)
--
-- host      the sender's HOSTNAME (vxlog forward --hostname)
-- id        the record's id in that machine's dbLog.db
-- datetime  its time stamp as stored there, "yyyy-MM-dd hh:mm:ss", the
--           sender's local time; compared as text (collation "C"), as the
--           machines' own SQLite files compare it. One stored there in
--           another shape is kept as its text (cut at 64 bytes, ending "…").
-- type      its record type; NULL for a NULL and for one that is not an int
--           (a text, a real, beyond int: that type is in fleet_log_rejects)
-- message   its message, the line ends it finished with restored. Marked
--           where text cannot hold what the machine stored: a NUL byte is
--           U+2400 "␀", bytes that are not UTF-8 are U+FFFD "�" each (the
--           bytes as sent are in fleet_log_rejects)
-- received  when the receiver stored it
--
-- The primary key (host, id) stores a record sent twice (the forwarder
-- sends at least once) only once: the receiver inserts with
-- ON CONFLICT (host, id) DO NOTHING, which needs SELECT on (host, id) as
-- well as INSERT (fleet_roles.sql).
--
-- No monthly partitions: a unique key of a partitioned table must hold the
-- partition key, so (host, id) could only be kept unique within a month,
-- and a record sent again after a month's end would be stored twice.
-- Retention deletes old days instead (see docs/fleet.md); a fleet that
-- outgrows that partitions by hash of host, which keeps the key.

CREATE TABLE IF NOT EXISTS fleet_log (
    host     text COLLATE "C" NOT NULL,
    id       bigint NOT NULL,
    datetime text COLLATE "C" NOT NULL,
    type     integer,
    message  text NOT NULL DEFAULT '',
    received timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (host, id)
);

-- One machine's day (or range), all types or some, in time order.
CREATE INDEX IF NOT EXISTS fleet_log_host_time ON fleet_log (host, datetime, id);
-- Every machine's day in time order; a type filter reads the rows in time
-- order and keeps its own. The type beside each entry lets vxlog report
-- count a period's records per type from this index alone.
CREATE INDEX IF NOT EXISTS fleet_log_time ON fleet_log (datetime, host, id) INCLUDE (type);
-- The alarms (type 3) in time order with their machines: vxlog report and
-- the viewer's 统计 page count a period's alarms per machine from this
-- index alone, and read the texts of the alarms alone, not the rows of the
-- other types between them. (Not the texts themselves: an index entry
-- holds at most about 2,700 bytes, and a longer message would be refused.)
-- It holds about a fifth of the records, so it costs the receiver's
-- inserts little (bench/README.md has the figures).
CREATE INDEX IF NOT EXISTS fleet_log_alarms ON fleet_log (datetime, host) INCLUDE (type) WHERE type = 3;
--
-- A table made before these two indexes answers the same, more slowly. To
-- give it them without holding up the receiver:
--   CREATE INDEX CONCURRENTLY fleet_log_time_new ON fleet_log (datetime, host, id) INCLUDE (type);
--   DROP INDEX CONCURRENTLY fleet_log_time;
--   ALTER INDEX fleet_log_time_new RENAME TO fleet_log_time;
--   CREATE INDEX CONCURRENTLY IF NOT EXISTS fleet_log_alarms
--       ON fleet_log (datetime, host) INCLUDE (type) WHERE type = 3;

-- What the receiver could not store as it came, one row per record:
--   stored = true   the record is in fleet_log, changed as `reason` says (a
--                   type that is no int stored as NULL, bytes that are not
--                   UTF-8, a NUL, a time stamp cut short)
--   stored = false  it is not in fleet_log: a message without the record id
--                   of vxlog forward (another sender), an unusable host
--                   name, or a row the database refused (its words in
--                   `reason`, e.g. a constraint added to fleet_log)
-- host and id as sent (id NULL when there is none); structured_data as sent;
-- message the message's bytes as they came. A record sent again is noted
-- once. Look here when vxlog store says so (its output file, rsyslog's log):
--   SELECT host, id, stored, reason, received FROM fleet_log_rejects ORDER BY received;
CREATE TABLE IF NOT EXISTS fleet_log_rejects (
    host            text COLLATE "C" NOT NULL,
    id              bigint,
    stored          boolean NOT NULL,
    reason          text NOT NULL,
    structured_data text NOT NULL,
    message         bytea NOT NULL,
    received        timestamptz NOT NULL DEFAULT now()
);
CREATE UNIQUE INDEX IF NOT EXISTS fleet_log_rejects_record ON fleet_log_rejects (host, id);

-- ==== Text search ===========================================================
-- vxlog --grep and the viewer's filter on this table: a pattern is looked up
-- in an index of the messages' pairs of neighbouring characters, so that
-- PostgreSQL reads only the rows that hold every pair its matches must hold
-- (a search of "卡刀" reads the rows holding 卡刀, of "coolant" those holding
-- co, oo, ol, la, an and nt). vxlog and the viewer still match each row they
-- get, so an answer is the same with the index or without it; without it
-- (a table made before this section) every row of the period is read.
--
-- Why pairs and not pg_trgm: a trigram index cannot find the two-character
-- words Chinese alarm texts are full of (过载, 卡刀, 急停), and under this
-- database's C locale pg_trgm does not index Chinese characters at all.
--
-- fleet_log_bigrams(): the distinct pairs of a message, ASCII letters in
-- lower case, the Kelvin sign (U+212A) and the long s (U+017F) as k and s
-- (as a case-insensitive search matches them); every other character as it
-- is.
-- The index makes each insert cost more: bench/README.md has the figures.
--
-- On a table that already holds a year, build the index without holding up
-- the receiver:
--   CREATE INDEX CONCURRENTLY IF NOT EXISTS fleet_log_message_pairs
--       ON fleet_log USING gin (fleet_log_bigrams(message));

CREATE OR REPLACE FUNCTION fleet_log_bigrams(message text) RETURNS text[]
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
    SELECT coalesce(array_agg(DISTINCT pair[1]), '{}')
    FROM (SELECT translate(lower(message COLLATE "C"), U&'\212A\017F', 'ks') AS folded) AS f,
         LATERAL (SELECT regexp_matches(folded, '..', 'g')
                  UNION ALL SELECT regexp_matches(substr(folded, 2), '..', 'g')) AS p(pair)
$$;

CREATE INDEX IF NOT EXISTS fleet_log_message_pairs ON fleet_log USING gin (fleet_log_bigrams(message));
